// Keeps the fixture library non-empty.
