#pragma once

#include <QString>
#include <exception>

// The text the user is shown for an error: the tool's own message; for running
// out of memory (std::bad_alloc, std::length_error) "Out of memory.", never a
// C++ type name; otherwise what the error says of itself.
QString userMessageOf(const std::exception &error);
// The same for an error caught as it flew; one that is no std::exception
// is "Unknown error.".
QString userMessageOf(const std::exception_ptr &error);
