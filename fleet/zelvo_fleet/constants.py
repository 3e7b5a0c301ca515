"""Exit codes, defaults and the names that more than one module uses."""

EXIT_OK = 0
EXIT_FLAGGED = 1
EXIT_ERROR = 2
EXIT_INTERRUPTED = 130

DEFAULT_TOLERANCE_PCT = 5.0
DEFAULT_SPREAD_PCT = 5.0
DEFAULT_THROTTLE_PCT = 5.0
DEFAULT_OUT = "zelvo-results"
# The job's nodes, one a line, written by the job script into the job's folder.
NODE_LIST_FILE = "nodes.txt"
