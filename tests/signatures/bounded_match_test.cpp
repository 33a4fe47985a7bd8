// Bounded signature matching.
