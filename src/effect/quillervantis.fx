// Placeholder: the effect source format is defined by the effect runtime.
