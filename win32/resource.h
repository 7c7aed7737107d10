// Resource ids shared by the resource script and the code.
#pragma once

#define IDI_QUILLMERE 1
