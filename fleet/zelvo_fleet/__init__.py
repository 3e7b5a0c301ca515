"""zelvo-fleet: runs zelvo on many nodes through Slurm and reports the results.

results    reads and checks a job folder's result files
text       text from the folder as it may be printed, and the order of node names
stats      statistics over runs and over a run's trace (standard library only)
report     judges each node by its runs, groups the nodes, flags the invalid,
           slow, unsteady and throttled ones, prints and plots
compare    two sets of runs: the ratio of their medians with a bootstrap interval
trace      one run's rate over time and its steadiness
slurm      submits a job, waits for it, and tells a job that has not ended
main       the command line
"""
