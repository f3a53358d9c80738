// Network built-ins: TCP and UDP sockets over IPv4, name resolution and ICMP echo (lib/sockets.cpp), and
// HTTP, HTTPS and FTP downloads through the system's internet library, in the calling thread or on a
// background thread the script polls (lib/downloads.cpp).
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_TCPSTARTUP(Engine& e, Args& a, Variant& r);
int bi_TCPSHUTDOWN(Engine& e, Args& a, Variant& r);
int bi_TCPLISTEN(Engine& e, Args& a, Variant& r);
int bi_TCPCONNECT(Engine& e, Args& a, Variant& r);
int bi_TCPACCEPT(Engine& e, Args& a, Variant& r);
int bi_TCPSEND(Engine& e, Args& a, Variant& r);
int bi_TCPRECV(Engine& e, Args& a, Variant& r);
int bi_TCPCLOSESOCKET(Engine& e, Args& a, Variant& r);
int bi_TCPNAMETOIP(Engine& e, Args& a, Variant& r);
int bi_UDPOPEN(Engine& e, Args& a, Variant& r);
int bi_UDPBIND(Engine& e, Args& a, Variant& r);
int bi_UDPSEND(Engine& e, Args& a, Variant& r);
int bi_UDPRECV(Engine& e, Args& a, Variant& r);
int bi_UDPCLOSESOCKET(Engine& e, Args& a, Variant& r);
int bi_PING(Engine& e, Args& a, Variant& r);

int bi_INETGET(Engine& e, Args& a, Variant& r);
int bi_INETREAD(Engine& e, Args& a, Variant& r);
int bi_INETGETSIZE(Engine& e, Args& a, Variant& r);
int bi_INETGETINFO(Engine& e, Args& a, Variant& r);
int bi_INETCLOSE(Engine& e, Args& a, Variant& r);
int bi_HTTPSETPROXY(Engine& e, Args& a, Variant& r);
int bi_FTPSETPROXY(Engine& e, Args& a, Variant& r);
int bi_HTTPSETUSERAGENT(Engine& e, Args& a, Variant& r);

}  // namespace tx
