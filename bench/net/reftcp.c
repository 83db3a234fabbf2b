// SPDX-License-Identifier: MIT
// Reference Modbus TCP server for the network benchmark, built on libmodbus's
// server API the way its own examples serve many clients: modbus_tcp_listen
// and a select loop over every connection. The same four tables as Quorlin.
//   quorlin-reftcp PORT
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: quorlin-reftcp PORT\n");
        return 2;
    }
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    modbus_mapping_t *map = modbus_mapping_new(2048, 2048, 256, 256);
    if (!ctx || !map) {
        fprintf(stderr, "quorlin-reftcp: %s\n", modbus_strerror(errno));
        return 1;
    }
    for (int i = 0; i < 256; ++i)
        map->tab_registers[i] = (uint16_t)i;
    const int server = modbus_tcp_listen(ctx, 1024);
    if (server < 0) {
        fprintf(stderr, "quorlin-reftcp: listen: %s\n", modbus_strerror(errno));
        return 1;
    }
    printf("quorlin-reftcp ready on %s\n", argv[1]);
    fflush(stdout);
    fd_set all;
    FD_ZERO(&all);
    FD_SET(server, &all);
    int maxFd = server;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        fd_set ready = all;
        if (select(maxFd + 1, &ready, NULL, NULL, NULL) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int fd = 0; fd <= maxFd; ++fd) {
            if (!FD_ISSET(fd, &ready))
                continue;
            if (fd == server) {
                const int c = accept(server, NULL, NULL);
                if (c >= 0 && c < FD_SETSIZE) {
                    FD_SET(c, &all);
                    if (c > maxFd)
                        maxFd = c;
                } else if (c >= 0) {
                    close(c);
                }
                continue;
            }
            modbus_set_socket(ctx, fd);
            const int rc = modbus_receive(ctx, query);
            if (rc > 0) {
                modbus_reply(ctx, query, rc, map);
            } else if (rc == -1) {
                close(fd);
                FD_CLR(fd, &all);
            }
        }
    }
    modbus_mapping_free(map);
    modbus_free(ctx);
    return 0;
}
