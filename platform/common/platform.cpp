// Anchors the platform library; the layers live beside it.
