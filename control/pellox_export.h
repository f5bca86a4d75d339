#pragma once

#include <QtGlobal>

#if defined(PELLOX_BUILDING_LIBRARY)
#define PELLOX_EXPORT Q_DECL_EXPORT
#else
#define PELLOX_EXPORT Q_DECL_IMPORT
#endif
