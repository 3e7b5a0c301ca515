"""The exceptions that main turns into one line and an exit code."""


class UsageError(Exception):
    """A problem with the command line or the environment: one line, exit 2."""


class ResultFileError(Exception):
    """A result file that cannot be used: corrupt, partial or foreign."""
