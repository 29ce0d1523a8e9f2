#pragma once
#include <string>

// The temporary files the program holds, on one list that a signal handler walks:
// on SIGINT, SIGTERM, SIGHUP or SIGPIPE every listed file is removed and the
// program exits with 128 + the signal's number, so an interrupted run leaves no
// part-written file behind.

// Installs the handler for the four signals (once, at the program's start).
void RemoveTemporaryFilesOnSignals();

// Puts a temporary file on the list; returns its slot. Throws std::runtime_error
// when the list is full.
int ListTemporaryFile(const std::string& path);
// Takes a slot off the list (after the file was renamed or removed).
void UnlistTemporaryFile(int slot);

// Holds the four signals back for its lifetime, so that a group of renames is
// done whole; a signal that came meanwhile acts when it ends.
class SignalsHeldBack {
public:
    SignalsHeldBack();
    ~SignalsHeldBack();
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;
};
