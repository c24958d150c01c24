// The test package's RDMA peer-memory companion module.
#include <linux/module.h>

static int __init vtn_peer_mem_init(void) { return 0; }
static void __exit vtn_peer_mem_exit(void) {}
module_init(vtn_peer_mem_init);
module_exit(vtn_peer_mem_exit);
MODULE_LICENSE("GPL");
MODULE_VERSION("4.3.0");
