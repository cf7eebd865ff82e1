// Everything of the COM runtime in one include.
#pragma once

#include "platform/com/Automation.h"
#include "platform/com/Bstr.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ConnectionPoints.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Enumerators.h"
#include "platform/com/GuidStrings.h"
#include "platform/com/HResult.h"
#include "platform/com/OleInterfaces.h"
#include "platform/com/ServerRegistration.h"
#include "platform/com/TaskMemory.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"
