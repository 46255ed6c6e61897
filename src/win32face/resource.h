// Resource identifiers shared by loader.rc and the code.
#pragma once

#define IDI_LOADER 1
