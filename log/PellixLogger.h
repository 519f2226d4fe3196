/* The two exported functions of the diagnostic log. Plain C: a host written in C calls them to
 * create the process-wide log on a file of its choice and to name sections of its own. */
#ifndef PELLIX_LOG_PELLIXLOGGER_H
#define PELLIX_LOG_PELLIXLOGGER_H

#include <stdint.h>

#ifndef PX_EXPORT
#define PX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Creates the process-wide log on path (opened for appending, created when missing) with the
 * sections 1 "Pellix", 2 "Client", 3 "PellixControl" and 4 "Graphic". Does nothing when path is
 * null or a log already exists: the first path wins until the library is closed. */
PX_EXPORT void PXInitLogger(const char* path);

/* Names section id. Ignored when no log exists, name is null or empty, or 512 sections are
 * registered. An identifier registered twice keeps its first name; records carry the section in
 * one byte, so only identifiers 0 to 255 are ever shown by name. */
PX_EXPORT void PXAddLoggerSection(uint32_t id, const char* name);

#ifdef __cplusplus
}
#endif

#endif
