// Filled in by the change engine.
