// Resource numbers of the program.
#pragma once

#define IDI_VARNEKIT 1
#define IDR_LAUNCHER_JPEG 101
