#pragma once
// The pictures of the transport buttons, drawn at run time.
#include <QIcon>

enum class TransportPicture { kPlay, kPause, kStop, kPrevious, kNext, kClose };

QIcon TransportIcon(TransportPicture picture);
