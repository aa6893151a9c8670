#include "sysfs_dir.h"

#include <stdlib.h>

const char *quorvin_sysfs_dir(void)
{
	// secure_getenv: a setuid or file-capability program must not let its
	// caller redirect the writes to a folder of the caller's choosing.
	const char *dir = secure_getenv("QUORVIN_SYSFS_DIR");
	return (dir != nullptr && *dir != '\0') ? dir : "/sys/class/pwm";
}
