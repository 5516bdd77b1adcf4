#pragma once

// Resource numbers shared by qor.rc and the code. The program's file icon is
// the lowest-numbered icon: the lit lamp, as before start-up.
#define QOR_ICON_PROGRAM 1
#define QOR_ICON_LAMP_FIRST 101 /* lamps 1 to 3: 101, 102, 103 */
