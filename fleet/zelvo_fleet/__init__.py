"""zelvo-fleet: runs zelvo on many nodes through Slurm and reports the results.

results    reads and checks a job folder's result files
text       text from the folder as it may be printed, and the order of node names
report     groups the nodes, flags the invalid and slow ones, prints and plots
slurm      submits a job, waits for it, and tells a job that has not ended
main       the command line
"""
