// Ctrl-C and Ctrl-Break while kxprobe replaces the hardware tree with a
// profile.
#pragma once

// For its lifetime, the console's Ctrl-C and Ctrl-Break stop a profile load
// between two keys, as a write that the registry refuses stops it: the load
// puts the hardware tree back as it was, and its error says that it was
// interrupted. A load that ends otherwise (its window closed, its process
// ended) cannot do so; the capture that it kept of the tree is named as
// the next one starts.
class InterruptibleLoad {
public:
    InterruptibleLoad();
    ~InterruptibleLoad();
    InterruptibleLoad(const InterruptibleLoad &) = delete;
    InterruptibleLoad &operator=(const InterruptibleLoad &) = delete;
};
