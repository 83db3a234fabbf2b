// SPDX-License-Identifier: MIT
// Reference slave for the latency benchmark, built on libmodbus's server API:
// the same four tables as Quorlin, answering on one serial device until killed.
//   quorlin-refslave DEVICE [SLAVE_ID]
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: quorlin-refslave DEVICE [SLAVE_ID]\n");
        return 2;
    }
    int id = argc > 2 ? atoi(argv[2]) : 1;
    modbus_t *ctx = modbus_new_rtu(argv[1], 9600, 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, id) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "quorlin-refslave: %s: %s\n", argv[1], modbus_strerror(errno));
        return 1;
    }
    modbus_mapping_t *map = modbus_mapping_new(2048, 2048, 256, 256);
    if (!map) {
        fprintf(stderr, "quorlin-refslave: %s\n", modbus_strerror(errno));
        return 1;
    }
    printf("quorlin-refslave ready on %s id %d\n", argv[1], id);
    fflush(stdout);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        int rc = modbus_receive(ctx, query);
        if (rc > 0)
            modbus_reply(ctx, query, rc, map);
        else if (rc == -1 && errno == EBADF)
            break;
    }
    modbus_mapping_free(map);
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
