// Anchors the Windows platform library; the layers live beside it.
