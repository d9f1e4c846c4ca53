#pragma once
// The serial line the program tests ports with and writes the KSYN frame on.
// Where Qt has its serial port module it is Qt's QSerialPort; the Windows
// build has no such module and uses the Win32 line of winserialline.h. The
// build chooses one (TK_SERIAL_QT); both are QIODevices with the same few
// members the program uses, and openComPort (comports.h) opens either.
#ifndef TK_SERIAL_QT
#error "the build chooses the serial line: TK_SERIAL_QT=1 or 0"
#elif TK_SERIAL_QT
#include <QSerialPort>
namespace tk {
using SerialLine = QSerialPort;
}
#else
#include "platform/winserialline.h"
namespace tk {
using SerialLine = WinSerialLine;
}
#endif
