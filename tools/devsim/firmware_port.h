// Firmware upgrade endpoint of a simulated device: TCP port 6000.
//
// Not simulated yet. The listener belongs here, one per device address next to the HTTP
// listener in SimDevice::bindAll(): it reads packets of a 32-byte header followed by the
// tab-separated command texts "CMD\tUPDATE\tSTART\t<size>\t<...>\t", the image data,
// "CMD\tUPDATE\tFINISH\t" and "CMD\tUPDATE\tEND\t", answers each with a 32-byte header and
// a text containing "OK", and restarts the device after the end command (SimDevice already
// knows how to restart). Until then nothing listens on port 6000, so an upgrade attempt
// against the simulator sees its connection refused.
#pragma once

#include <QtGlobal>

namespace devsim {

constexpr quint16 kFirmwarePort = 6000;

}  // namespace devsim
