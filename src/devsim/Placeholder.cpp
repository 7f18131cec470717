// Filled in as the layer is built.
