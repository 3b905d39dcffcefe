# Shared by the benchmark scripts (sourced): a certificate authority made for the run,
# an nginx configuration that serves one folder, the generated site of pages, and the
# two network namespaces joined by delay-link.

# make_bench_ca DIR IP...: DIR/ca.pem (what clients trust), and DIR/server.pem with its
# key DIR/server.key, signed by it for the given IP addresses.
make_bench_ca() {
    local dir="$1"
    shift
    local san="" ip
    for ip in "$@"; do san="${san:+$san,}IP:$ip"; done
    mkdir -p "$dir"
    local ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
    openssl req -x509 $ec -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 \
        -subj /CN=bench-ca 2>/dev/null
    openssl req $ec -keyout "$dir/server.key" -out "$dir/server.csr" -subj "/CN=$1" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\n' "$san" > "$dir/ext.cnf"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
        -CAcreateserial -out "$dir/server.pem" -days 2 -extfile "$dir/ext.cnf" 2>/dev/null
}

# write_nginx_conf DIR ROOT CA_DIR ADDRESS:PORT...: DIR/nginx.conf serving ROOT on each
# address, over TLS (1.2 and 1.3) with HTTP/2 when CA_DIR (from make_bench_ca) is not
# empty. Each
# request is logged to DIR/logs/access.log as "connection status protocol target".
write_nginx_conf() {
    local dir="$1" root="$2" ca="$3"
    shift 3
    local listen="" tls="" address
    for address in "$@"; do
        listen="$listen listen $address${ca:+ ssl http2};"
    done
    # nginx 1.22 offers no TLS 1.3 unless told; sites today do (BENCH_TLS="TLSv1.2"
    # measures a server of TLS 1.2 only).
    [ -n "$ca" ] && tls="ssl_certificate $ca/server.pem; ssl_certificate_key $ca/server.key;
        ssl_protocols ${BENCH_TLS:-TLSv1.2 TLSv1.3};"
    mkdir -p "$dir/logs"
    cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
daemon off;
error_log $dir/logs/error.log warn;
pid $dir/nginx.pid;
events { worker_connections 1024; }
http {
    log_format byconn '\$connection \$status \$server_protocol \$request_uri \$msec';
    access_log $dir/logs/access.log byconn;
    sendfile on;
    keepalive_requests 100000;
    types { text/html html htm; application/octet-stream bin; }
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    server {$listen $tls root $root; }
}
CONF
}

# make_page_site DIR PAGES: DIR/index.html linking PAGES pages DIR/pages/pN.html, each a
# paragraph and links to the next and previous page and to the index.
make_page_site() {
    local site="$1" n="$2" i filler
    filler=$(printf 'Tandril copies a web site into a local directory. %.0s' $(seq 1 30))
    mkdir -p "$site/pages"
    {
        echo "<html><head><title>Index</title></head><body><h1>Pages</h1><ul>"
        for i in $(seq 0 $((n - 1))); do echo "<li><a href=\"pages/p$i.html\">Page $i</a></li>"; done
        echo "</ul></body></html>"
    } > "$site/index.html"
    for i in $(seq 0 $((n - 1))); do
        printf '<html><head><title>Page %d</title></head><body>\n<p>%s</p>\n<a href="p%d.html">next</a> <a href="p%d.html">previous</a> <a href="../index.html">index</a>\n</body></html>\n' \
            "$i" "$filler" "$(( (i + 1) % n ))" "$(( (i + n - 1) % n ))" > "$site/pages/p$i.html"
    done
}

# The two network namespaces of a measurement and the delay link between them. Callers
# set $work, $link (delay-link), $cli and $srv (namespace names) and $server_ip (the
# server's address, ending in .2 of a /30; the client gets .1); link_pid and nginx_pid
# are kept here for bench_cleanup.
link_pid=""
nginx_pid=""

# bench_namespaces: makes $cli and $srv with their loopback up.
bench_namespaces() {
    ip netns add "$cli"
    ip netns add "$srv"
    ip -n "$cli" link set lo up
    ip -n "$srv" link set lo up
}

# start_delay_link RTT_MS [RATE_KBIT]: (re)starts the link with a one-way delay of half
# the round trip (and the rate, when given).
start_delay_link() {
    [ -n "$link_pid" ] && { kill "$link_pid"; wait "$link_pid" 2>/dev/null || true; }
    "$link" "$cli" td0 "$srv" td1 "$(( $1 * 500 ))" ${2:+"$2"} > "$work/link.out" &
    link_pid=$!
    for _ in $(seq 1 50); do grep -q ready "$work/link.out" 2>/dev/null && break; sleep 0.1; done
    ip -n "$cli" addr add "${server_ip%.*}.1/30" dev td0
    ip -n "$cli" link set td0 up
    ip -n "$srv" addr add "$server_ip/30" dev td1
    ip -n "$srv" link set td1 up
}

# bench_cleanup: stops the link and nginx, deletes the namespaces and $work.
bench_cleanup() {
    [ -n "$link_pid" ] && kill "$link_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    ip netns del "$cli" 2>/dev/null || true
    ip netns del "$srv" 2>/dev/null || true
    rm -rf "$work"
}
