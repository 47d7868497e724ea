// Placeholder so that a layer without sources yet still forms a library.
