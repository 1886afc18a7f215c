// Resource identifiers shared by the resource script and the code that loads
// the resources. Plain macros: the resource compiler reads this file too.
#ifndef SHELL_RESOURCES_RESOURCE_IDS_H_
#define SHELL_RESOURCES_RESOURCE_IDS_H_

// The icon group of the executable and of its window class.
#define ZV_APP_ICON 101

#endif  // SHELL_RESOURCES_RESOURCE_IDS_H_
