// The shared cycle library is assembled from the subsystem archives.
