#pragma once

#include <QObject>

// Copies every property of target's class from the source property of the same
// name, when the target's can be written, both type names are the same and the
// source's can be read. Works on the run-time descriptions alone, so any two
// classes can be paired; QObject's own objectName is not copied.
void copyProperties(const QObject &source, QObject &target);
