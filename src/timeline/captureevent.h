#ifndef CAPTUREEVENT_H
#define CAPTUREEVENT_H

#include <QString>
#include <QtGlobal>

// Something that happened while a capture ran, placed in its byte stream: a marker the user set,
// or what the program saw (a start, a silence, a lost device).
struct CaptureEvent
{
    enum class Type {
        Marker, // number 1-9, or 0 with a label
        Start, // label: what the answer showed
        Stop,
        Silence, // durationMicros: how long nothing arrived
        Lost, // the device went away
        Reconnected, // durationMicros: the gap
        Restarted, // a device that came back idle was started again into the same capture
        Memory, // the disk refused the capture: the rest is in memory; label: why
        PutBack, // a Start turned out to be a stop: the earlier capture is the capture again
    };

    // Unique within a run, so that a label typed later finds its marker.
    qint64 id = 0;
    Type type = Type::Marker;
    int number = 0;
    QString label;
    // The capture held this many bytes when it happened.
    qint64 offset = 0;
    // On a steady clock, since the capture's start.
    qint64 micros = 0;
    qint64 durationMicros = 0;

    // The type's name in the files we write: "marker", "start", ...
    static QString typeName(Type type);
};

#endif // CAPTUREEVENT_H
