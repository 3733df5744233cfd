// Filled in by the write translation.
