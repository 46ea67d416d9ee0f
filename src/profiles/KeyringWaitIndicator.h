#pragma once

#include <QString>

#include <functional>

// Shown while the program waits for the keyring: its unlock prompt is open,
// or it is slow to answer. Called with what is awaited and how the user
// gives up; returns the function that takes the indicator down again. The
// keyring code only calls it; the front end decides what it shows (the
// window a busy box with Cancel), and without one nobody is asked.
using KeyringWaitIndicator =
    std::function<std::function<void()>(const QString &text, const std::function<void()> &cancel)>;
