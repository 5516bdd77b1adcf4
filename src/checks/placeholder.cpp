// Filled in by the checks work.
