// The test package's storage companion module.
#include <linux/module.h>

static int __init vtnfs_init(void) { return 0; }
static void __exit vtnfs_exit(void) {}
module_init(vtnfs_init);
module_exit(vtnfs_exit);
MODULE_LICENSE("GPL");
MODULE_VERSION("4.3.0");
