// The one header through which the program reaches the platform. On Windows
// these are the SDK headers; elsewhere the stand-in in host/ provides the same
// names and signatures, so the program's own code never asks where it runs.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <shellapi.h>
#include <shobjidl.h>
#else
#include "host/windows.h"
#endif

#include "property_keys.h"
