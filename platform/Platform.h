// Pellix platform layer.
//
// The only code of Pellix that touches POSIX threads, sockets, clocks, files and the
// configuration file. Everything above it (netaccess/, client/, log/, ...) calls these small stand-ins:
//
//   Event           auto-reset / manual-reset events on eventfd (pollable by a host)
//   CriticalSection recursive lock with a scoped guard
//   Thread          a named thread with an explicit start and join
//   Clock           monotonic millisecond tick count, sleep, local time of day
//   File            files and folders: shared append under a lock, whole reads and writes, copy,
//                   rename, delete, listings, folder paths, the per-user data folder
//   Config          "Name=Value" configuration store (VISTEL_CONFIG or /etc/dravik/vistel.conf)
//   Messages        process-wide message-box handler and debug-output sink
//   Socket          thin socket calls whose failures come back as errno values
//
// None of these throw; failures are returned as errno values or boolean results. Objects are
// owned by whoever constructs them; none of them starts a thread of its own except Thread.
#pragma once

#include "platform/Clock.h"
#include "platform/Config.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/File.h"
#include "platform/Messages.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
