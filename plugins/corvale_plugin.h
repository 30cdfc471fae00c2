/* Corvale plug-in interface.
 *
 * A plug-in is a shared object in the folder "Plugins" beside the program. It exports
 * some of the entry points below with C linkage (every one may be absent; a plug-in
 * needs at least Initialize, GetTestInfo and PerformTest to offer a test). Texts are
 * zero-terminated single-byte (Latin-1) strings; integers are 32-bit unless a type says
 * otherwise; a buffer of n bytes is memory the caller provides. See README.md for how
 * each call is used, and for a minimal plug-in.
 *
 * PerformTest runs in a helper process of the program (one per plug-in, started at the
 * first test), on a thread of its own per test, possibly for several hosts at once; its
 * callbacks then reach the program through that process. Every other entry point runs
 * in the program, on its main thread. Keep no state between the two that PerformTest
 * needs: the helper process has its own copy of the plug-in (Initialize, InitializeEx
 * with a copy of the settings block, and GetTestInfo are called there too).
 */
#ifndef CORVALE_PLUGIN_H
#define CORVALE_PLUGIN_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define CVL_CALL __stdcall
#else
#define CVL_CALL
#endif

#if defined(_WIN32)
#define CVL_EXPORT __declspec(dllexport)
#else
#define CVL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer sizes. */
#define CVL_NAME_SIZE 256        /* vendor, plug-in name, identifiers, list entries, errors */
#define CVL_MESSAGE_SIZE 255     /* PerformTest's message, menu captions */
#define CVL_DISPLAY_TEXT_SIZE 64 /* ConfigureTest's display text */
#define CVL_TEXT_SIZE 256        /* the host-information and variables-menu buffers */

/* Parameter kinds of a test (GetTestInfo). */
#define CVL_PARAM_NONE 0
#define CVL_PARAM_TEXT 1          /* free text; the other hosts' values offered */
#define CVL_PARAM_CHOICE 2        /* a choice from GetTestDropdownEntry */
#define CVL_PARAM_TEXT_LIST 3     /* free text with GetTestDropdownEntry's list offered */
#define CVL_PARAM_DATA 4          /* data edited in the plug-in's own ConfigureTest dialog */

/* PerformTest results. A fatal flag set makes the result CVL_FORCED_OFFLINE whatever
 * is returned. */
#define CVL_SUCCESS 1             /* -1 also counts as success */
#define CVL_FAILURE 0
#define CVL_FORCED_OFFLINE (-1)   /* only through the fatal flag */
#define CVL_NO_RESULT (-2)        /* only the host's note and the log change */

/* OnLogMessage categories. */
#define CVL_LOG_OK 0
#define CVL_LOG_WARNING 1
#define CVL_LOG_ERROR 2
#define CVL_LOG_INFORMATION 10
#define CVL_LOG_OTHER 99

/* Callbacks the program offers. The first argument is always the plug-in index that
 * Initialize received. */

/* type: 0 "O", 1 "W", 2 "E", 3 "I", other "-". -1 when written, 0 when not. */
typedef int32_t(CVL_CALL* TCvlLogCallback)(int32_t pluginIndex, int32_t unused, int32_t hostID, const char* message,
                                            int32_t type);
/* recipients separated by "," or ";". -1 when queued, 0 when not. */
typedef int32_t(CVL_CALL* TCvlEmailCallback)(int32_t pluginIndex, int32_t hostID, const char* recipients,
                                              const char* subject, const char* message);
/* The text with the host's message variables expanded into buffer (bufferSize bytes);
 * -1 and bufferSize set to the length when it fits, else 0. */
typedef int32_t(CVL_CALL* TCvlVariablesCallback)(int32_t pluginIndex, int32_t hostID, const char* text,
                                                  int32_t* bufferSize, char* buffer);
/* Shows the variables menu at the screen point; -1 with the chosen variable in buffer
 * (CVL_TEXT_SIZE bytes), 0 when nothing was chosen or no menu can be shown. */
typedef int32_t(CVL_CALL* TCvlVariablesMenuCallback)(int32_t pluginIndex, int32_t hostID, int32_t x, int32_t y,
                                                      char* buffer);
/* The host at hostIndex of the host list. Every buffer is CVL_TEXT_SIZE bytes or null
 * (skipped). status: -1 unknown, 0 online, 1 warning, 2 offline. Times are day counts
 * since 1899-12-30, local time. 0, -1 for an index outside the list, 1 when reading
 * failed. */
typedef int32_t(CVL_CALL* TCvlHostInfoCallback)(int32_t pluginIndex, int32_t hostIndex, int32_t* hostID, char* name,
                                                 char* address, char* kind, int32_t* status, int64_t* successes,
                                                 int64_t* failures, int64_t* backToBackFailures, double* lastCheck,
                                                 double* lastSuccess, double* lastFailure, char* lastError);
/* action 0: 0 when the host has a user name, -1 when not; 1: connect to the host's
 * "ipc$" with its credentials, the system's code; 2: disconnect that connection, 0, or -1
 * when there is none; other actions -3; -2 when no host has the ID. */
typedef int32_t(CVL_CALL* TCvlHostConnectionCallback)(int32_t pluginIndex, int32_t hostID, int32_t action);

/* Entry points the program looks up by name. */
typedef int32_t(CVL_CALL* TCvlInitialize)(int32_t pluginIndex, TCvlLogCallback log, TCvlEmailCallback email,
                                          char* vendorName, char* pluginName, int32_t* testCount);
typedef int32_t(CVL_CALL* TCvlInitializeEx)(TCvlVariablesCallback variables, TCvlVariablesMenuCallback variablesMenu,
                                            TCvlHostInfoCallback hostInfo, TCvlHostConnectionCallback hostConnection,
                                            void* settings, int32_t* settingsLength, int32_t* settingsCapacity,
                                            int32_t* reserved);
typedef int32_t(CVL_CALL* TCvlGetTestInfo)(int32_t testNumber, char* identifier, char* name, int32_t* parameterKind,
                                           int32_t* parameterSize);
typedef int32_t(CVL_CALL* TCvlGetTestDropdownEntry)(int32_t testNumber, int32_t entryNumber, char* entry);
typedef int32_t(CVL_CALL* TCvlValidateTestParam)(int32_t testNumber, const char* parameter, char* error);
typedef int32_t(CVL_CALL* TCvlConfigureTest)(int32_t testNumber, int32_t hostID, const char* displayName,
                                             const char* address, uintptr_t parentWindow, char* parameter,
                                             int32_t* parameterLength, char* displayText);
typedef int32_t(CVL_CALL* TCvlPerformTest)(int32_t testNumber, int32_t hostID, const char* displayName,
                                           const char* address, const char* parameter, int32_t parameterLength,
                                           int32_t* errorCode, char* message, int32_t* responseTime,
                                           uint8_t* resolvedAddress, int32_t* fatal);
typedef void(CVL_CALL* TCvlOnLogMessage)(int32_t hostID, const char* message, int32_t category);
typedef void(CVL_CALL* TCvlFinalize)(void);
typedef int32_t(CVL_CALL* TCvlConfigurePlugin)(void* settings, int32_t* settingsLength, int32_t* settingsCapacity,
                                               uintptr_t parentWindow);
typedef int32_t(CVL_CALL* TCvlConfigurationChanged)(const char* hostsFileName, int32_t hostCount);
typedef int32_t(CVL_CALL* TCvlGetPopupMenuItem)(int32_t hostIndex, int32_t hostID, int32_t testNumber,
                                                int32_t itemNumber, char* caption);
typedef int32_t(CVL_CALL* TCvlPerformPopupMenuItem)(int32_t hostIndex, int32_t hostID, int32_t testNumber,
                                                    int32_t itemNumber);

#ifdef __cplusplus
}
#endif

#endif
