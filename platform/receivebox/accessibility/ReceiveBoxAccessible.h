#pragma once

// What assistive technology sees of the receive box: a terminal, read-only
// multi-line text, read in the ranges it asks for and never more than a
// bounded stretch at a time, through the box's AccessibleText. The
// announcements of its changes are ReceiveBoxAnnouncer's.

#include <QMetaObject>

class AccessibleText;
class QObject;

namespace platform::receivebox::accessibility {

// The text model of a widget of the class installed; null for any other.
using TextOf = AccessibleText *(*)(QObject *widget);

// Makes the accessible interface the one assistive technology gets for every
// widget of that class; once per process.
void install(const QMetaObject &boxClass, TextOf textOf);

} // namespace platform::receivebox::accessibility
