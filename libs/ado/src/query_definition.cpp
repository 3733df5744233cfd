// Filled in by the query definition writer.
