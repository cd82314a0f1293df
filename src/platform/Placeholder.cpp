// Temporary: replaced by the platform units.
