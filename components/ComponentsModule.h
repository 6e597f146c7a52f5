// zytcomponents.dll.so: the stand-ins for the product's other programs.
#pragma once

#include <string>

#include "platform/com/ClassFactory.h"

extern ZYT::CComModule g_componentsModule;
extern std::u16string g_componentsPath;
