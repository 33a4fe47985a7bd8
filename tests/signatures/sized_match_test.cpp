// Sized signature matching.
