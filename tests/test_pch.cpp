// Carrier of the shared precompiled GoogleTest headers.
