// Names of the program's resources, shared by the resource script and the code.
#pragma once

#define QINGLAN_ICON_NAME "DEFAULT_ICON"
#define QINGLAN_PICTURE_NAME "INSTRUCTIONS_PICTURE"
