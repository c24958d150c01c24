// The test package's main module: loads and unloads, and says in its module information
// whether it was built with vGPU support (the DKMS placeholder and the direct build's
// VGPU_ENABLE=1 both reach it).
#include <linux/module.h>

static int __init quelvan_init(void) { return 0; }
static void __exit quelvan_exit(void) {}
module_init(quelvan_init);
module_exit(quelvan_exit);

#ifdef QUELVAN_VGPU
MODULE_INFO(vgpu, "enabled");
#else
MODULE_INFO(vgpu, "disabled");
#endif
MODULE_LICENSE("GPL");
MODULE_VERSION("4.3.0");
MODULE_DESCRIPTION("Quelvan Ostrel test driver");
