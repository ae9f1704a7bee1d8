// Placeholder until the engine sources arrive.
