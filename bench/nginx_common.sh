# Shared by the benchmark scripts (sourced): a certificate authority made for the run,
# and an nginx configuration that serves one folder.

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
