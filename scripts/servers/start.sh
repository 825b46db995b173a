#!/usr/bin/env bash
# Starts the servers the tests talk to, all on 127.0.0.1, with every file below one state
# directory:
#   - Apache httpd with mod_dav: plain HTTP, HTTPS with a certificate of a test CA made
#     here, HTTPS that demands a client certificate in the handshake, and HTTPS with an
#     expired and with a wrong-name certificate;
#   - squid as two forward proxies, one with Basic authentication and one without;
#   - scripted_server.py, which replays canned exchanges.
# Writes <state>/servers.env (KEY=value lines) for the tests, and a watchdog that stops it
# all after VODAREZAZUV_SERVERS_LIFETIME seconds (default 3600) if stop.sh is never run.
#
# Usage: start.sh STATE_DIR. A previous run in the same state directory is stopped first.
# Ports come from VODAREZAZUV_*_PORT (see below).
set -euo pipefail
umask 022

if [ $# -ne 1 ]; then
    echo "usage: $0 STATE_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
# shellcheck source=common.sh
source "$here/common.sh"

state=$(absolute_dir "$1")
http_port=${VODAREZAZUV_HTTP_PORT:-18080}
https_port=${VODAREZAZUV_HTTPS_PORT:-18443}
https_client_cert_port=${VODAREZAZUV_HTTPS_CLIENT_CERT_PORT:-18444}
https_expired_port=${VODAREZAZUV_HTTPS_EXPIRED_PORT:-18445}
https_wrong_name_port=${VODAREZAZUV_HTTPS_WRONG_NAME_PORT:-18446}
scripted_port=${VODAREZAZUV_SCRIPTED_PORT:-18081}
proxy_auth_port=${VODAREZAZUV_PROXY_AUTH_PORT:-18128}
proxy_open_port=${VODAREZAZUV_PROXY_PORT:-18129}
lifetime=${VODAREZAZUV_SERVERS_LIFETIME:-3600}
scripted_idle=${VODAREZAZUV_SCRIPTED_IDLE:-1200}
exchanges=${VODAREZAZUV_EXCHANGES_DIR:-$repo/tests/data/exchanges}
host=127.0.0.1

basic_user=basicuser
basic_password=basic-Secret-1
basic_realm="vodarezazuv basic"
digest_user=digestuser
digest_password=digest-Secret-2
digest_realm="vodarezazuv digest"
proxy_user=proxyuser
proxy_password=proxy-Secret-3
client_cn="vodarezazuv test client"
client_serial=0102030405A1
# Seeded files carry this modification time, so tests can compare dates exactly.
seed_mtime=2021-03-04T05:06:07Z

# Debian's python3 first: the scripted server needs nothing but its standard library.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
for tool in apache2 squid openssl "$python" curl htpasswd; do
    if ! command -v "$tool" >/dev/null; then
        echo "start.sh: $tool is missing; run scripts/install-deps.sh" >&2
        exit 1
    fi
done
modules=/usr/lib/apache2/modules

fail() {
    trap - ERR
    echo "start.sh: $*" >&2
    stop_all "$state"
    exit 1
}
trap 'fail "a command failed at line $LINENO"' ERR

# --- A clean state directory ---------------------------------------------------------------
stop_all "$state"
for sub in "${STATE_SUBDIRS[@]}"; do
    rm -rf -- "${state:?}/$sub"
done
rm -f -- "$state/servers.env"
mkdir -p "$state/conf" "$state/certs" "$state/logs" "$state/run/apache"
conf=$state/conf certs=$state/certs logs=$state/logs run=$state/run

ports=("$http_port" "$https_port" "$https_client_cert_port" "$https_expired_port"
    "$https_wrong_name_port" "$scripted_port" "$proxy_auth_port" "$proxy_open_port")
if [ "$(printf '%s\n' "${ports[@]}" | sort -u | wc -l)" -ne ${#ports[@]} ]; then
    fail "two servers were given the same port: ${ports[*]}"
fi
for port in "${ports[@]}"; do
    if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then
        fail "port $port on $host is in use (a run in another state directory?);" \
            "stop it or choose other ports with VODAREZAZUV_*_PORT"
    fi
done

# Apache's workers run as www-data when we are root; they must reach the document tree,
# the lock database and the password files. If www-data cannot walk into the state
# directory (a home folder of mode 700, say), that part goes to a folder below /tmp.
as_root=0
[ "$(id -u)" -eq 0 ] && as_root=1
www=$state/www
if ((as_root)); then
    id www-data >/dev/null 2>&1 || fail "there is no user www-data"
    if ! runuser -u www-data -- test -x "$state" 2>/dev/null; then
        www=$(mktemp -d /tmp/vodarezazuv-www.XXXXXX)
        chmod 755 "$www"
        echo "$www" >"$run/www.path"
        echo "start.sh: www-data cannot enter $state; the document tree is in $www"
    fi
fi
mkdir -p "$www/dav" "$www/locks" "$www/auth" "$www/proxy"
dav_root=$www/dav

# --- Certificates (EC keys: made in milliseconds) ------------------------------------------
(
    cd "$certs"
    new_key() { openssl ecparam -name prime256v1 -genkey -noout -out "$1" 2>/dev/null; }
    new_key ca.key
    openssl req -x509 -new -key ca.key -subj "/O=vodarezazuv tests/CN=vodarezazuv test CA" \
        -days 30 -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" -out ca.crt

    # openssl ca is used for every certificate, since it alone can set past dates.
    mkdir -p db
    : >db/index.txt
    cat >ca.cnf <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = db/index.txt
new_certs_dir = db
serial = db/serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = copy
[any_name]
commonName = supplied
organizationName = optional
EOF
    sign() { # csr out serial [extra openssl ca arguments]
        local csr=$1 out=$2 serial=$3
        shift 3
        echo "$serial" >db/serial
        openssl ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in "$csr" \
            -out "$out" "$@" 2>/dev/null
    }
    request() { # key csr subject extension...
        local key=$1 csr=$2 subject=$3
        shift 3
        local args=()
        for ext in "$@"; do args+=(-addext "$ext"); done
        openssl req -new -key "$key" -subj "$subject" "${args[@]}" -out "$csr"
    }
    server_ext=("basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature"
        "extendedKeyUsage=serverAuth")

    new_key server.key
    request server.key server.csr "/CN=$host" "subjectAltName=IP:$host,DNS:localhost" \
        "${server_ext[@]}"
    sign server.csr server.crt 1001 -days 30
    sign server.csr server-expired.crt 1002 -startdate 20200101000000Z -enddate 20200201000000Z
    request server.key wrong-name.csr "/CN=wrong.invalid" "subjectAltName=DNS:wrong.invalid" \
        "${server_ext[@]}"
    sign wrong-name.csr server-wrong-name.crt 1003 -days 30

    new_key client.key
    request client.key client.csr "/O=vodarezazuv tests/CN=$client_cn" \
        "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=clientAuth"
    sign client.csr client.crt "$client_serial" -days 30
    cat client.crt client.key >client.pem
    openssl pkcs12 -export -in client.crt -inkey client.key -name "$client_cn" \
        -passout pass: -out client.p12

    # A client certificate of no CA the server knows: always refused.
    new_key untrusted-client.key
    openssl req -x509 -new -key untrusted-client.key -days 30 \
        -subj "/CN=vodarezazuv untrusted client" -out untrusted-client.crt
    cat untrusted-client.crt untrusted-client.key >untrusted-client.pem
    rm -f -- *.csr
)

# --- Users ---------------------------------------------------------------------------------
htpasswd -bcm "$www/auth/basic.htpasswd" "$basic_user" "$basic_password" 2>/dev/null
digest_hash=$(printf '%s' "$digest_user:$digest_realm:$digest_password" | md5sum | cut -d' ' -f1)
echo "$digest_user:$digest_realm:$digest_hash" >"$www/auth/digest.htdigest"

# --- The document tree -------------------------------------------------------------------
# Files of a pattern body: byte i is i % 251, the same as scripted_server.py's @pattern.
pattern_file() {
    "$python" -c 'import sys
n = int(sys.argv[2])
block = bytes(range(251)) * 4096
with open(sys.argv[1], "wb") as f:
    while n > 0:
        f.write(block[:min(n, len(block))])
        n -= len(block)' "$1" "$2"
}
(
    cd "$dav_root"
    printf 'Hello from the vodarezazuv test server.\n' >small.txt
    : >empty.txt
    pattern_file one-kib.bin 1024
    pattern_file 64-kib.bin 65536
    pattern_file one-mib.bin 1048576
    pattern_file twenty-mib.bin 20971520
    printf 'spaces\n' >"name with spaces.txt"
    printf 'umlauts\n' >"Grüße aus Köln – Übermaß.txt"
    printf 'percent\n' >"100% sure.txt"
    printf 'hash\n' >"#hash and % both.txt"
    mkdir -p nested/deeper "Ordner mit Ä" empty-collection large
    printf 'inner\n' >"nested/inner file.txt"
    printf 'leaf\n' >nested/deeper/leaf.txt
    printf 'äöü\n' >"Ordner mit Ä/Datei ß.txt"
    find . -mindepth 1 -exec touch -h -d "$seed_mtime" {} +
)
# A 5 GiB file that takes no space, in a collection of its own so that nothing copying the
# root ever copies it. Where the file system cannot keep it sparse it is left out.
sparse_file=large/five-gib.bin
if truncate -s 5G "$dav_root/$sparse_file" 2>/dev/null &&
    [ "$(du -k -- "$dav_root/$sparse_file" | cut -f1)" -lt 1024 ]; then
    touch -d "$seed_mtime" "$dav_root/$sparse_file" "$dav_root/large"
else
    rm -f -- "$dav_root/$sparse_file"
    sparse_file=
    echo "start.sh: this file system cannot hold a sparse 5 GiB file; it is left out"
fi
touch -d "$seed_mtime" "$dav_root"
if ((as_root)); then
    chown -R www-data:www-data "$www/dav" "$www/locks"
    chown -R root:www-data "$www/auth"
    chmod 750 "$www/auth"
    chmod 640 "$www/auth"/*
fi

# --- Apache --------------------------------------------------------------------------------
# The DAV tree under its three names; included by the plain server and each TLS host.
cat >"$conf/dav-locations.conf" <<EOF
Alias /dav "$dav_root"
Alias /basic "$dav_root"
Alias /digest "$dav_root"
<Location /basic>
    AuthType Basic
    AuthName "$basic_realm"
    AuthBasicProvider file
    AuthUserFile "$www/auth/basic.htpasswd"
    Require valid-user
</Location>
<Location /digest>
    AuthType Digest
    AuthName "$digest_realm"
    AuthDigestDomain /digest/
    AuthDigestProvider file
    AuthUserFile "$www/auth/digest.htdigest"
    Require valid-user
</Location>
Redirect 301 /redirect/ /dav/
Redirect 302 /redirect302/ /dav/
EOF

tls_host() { # port certificate [extra lines]
    cat <<EOF
<VirtualHost $host:$1>
    ServerName $host
    SSLEngine on
    SSLCertificateFile "$certs/$2"
    SSLCertificateKeyFile "$certs/server.key"
    SSLCACertificateFile "$certs/ca.crt"
    Include "$conf/dav-locations.conf"
$3
</VirtualHost>
EOF
}

user_lines=
if ((as_root)); then
    user_lines=$'User www-data\nGroup www-data'
fi
cat >"$conf/apache.conf" <<EOF
# Written by scripts/servers/start.sh; rewritten by every start.
ServerRoot "$state"
ServerName $host
PidFile "$run/apache-httpd.pid"
DefaultRuntimeDir "$run/apache"
Mutex file:$run/apache default
ErrorLog "$logs/apache-error.log"
LogLevel warn
$user_lines

LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authn_core_module $modules/mod_authn_core.so
LoadModule authn_file_module $modules/mod_authn_file.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule authz_user_module $modules/mod_authz_user.so
LoadModule auth_basic_module $modules/mod_auth_basic.so
LoadModule auth_digest_module $modules/mod_auth_digest.so
LoadModule alias_module $modules/mod_alias.so
LoadModule mime_module $modules/mod_mime.so
LoadModule dav_module $modules/mod_dav.so
LoadModule dav_fs_module $modules/mod_dav_fs.so
LoadModule socache_shmcb_module $modules/mod_socache_shmcb.so
LoadModule ssl_module $modules/mod_ssl.so

StartServers 1
ServerLimit 4
ThreadsPerChild 25
MaxRequestWorkers 100
Timeout 60
KeepAlive On
MaxKeepAliveRequests 1000
KeepAliveTimeout 15
# Uploads of any size (files above 4 GiB included).
LimitRequestBody 0
UseCanonicalName Off
TypesConfig /etc/mime.types
DavLockDB "$www/locks/DavLock"
SSLSessionCache "shmcb:$run/apache/ssl_scache(512000)"

# One line per request: method, path, status, request Content-Length, bytes in and out
# (headers included), port, user, the proxy's Via header, Range, the client certificate's
# common name, and the request line as sent.
LogFormat "%{%Y-%m-%dT%H:%M:%S}t %m \"%U\" %>s length=%{Content-Length}i in=%I out=%O port=%{local}p user=\"%u\" via=\"%{Via}i\" range=\"%{Range}i\" client=\"%{SSL_CLIENT_S_DN_CN}x\" request=\"%r\"" dav
CustomLog "$logs/apache-access.log" dav

<Directory />
    AllowOverride None
    Require all denied
</Directory>
<Directory "$dav_root">
    DAV On
    Options None
    Require all granted
</Directory>

Listen $host:$http_port http
Listen $host:$https_port https
Listen $host:$https_client_cert_port https
Listen $host:$https_expired_port https
Listen $host:$https_wrong_name_port https

Include "$conf/dav-locations.conf"

$(tls_host "$https_port" server.crt "    # Asks for the client certificate after the handshake, for this location only.
    Alias /clientcert \"$dav_root\"
    <Location /clientcert>
        SSLVerifyClient require
        SSLVerifyDepth 1
    </Location>")
$(tls_host "$https_client_cert_port" server.crt "    # The handshake itself requires a certificate of the test CA.
    SSLVerifyClient require
    SSLVerifyDepth 1")
$(tls_host "$https_expired_port" server-expired.crt "")
$(tls_host "$https_wrong_name_port" server-wrong-name.crt "")
EOF

apache2 -t -f "$conf/apache.conf" >"$logs/apache-configtest.log" 2>&1 || {
    cat "$logs/apache-configtest.log" >&2
    fail "the Apache configuration is not valid"
}
setsid apache2 -f "$conf/apache.conf" -DFOREGROUND </dev/null >>"$logs/apache-stderr.log" 2>&1 &
echo $! >"$run/apache.pid"

# --- Proxies -------------------------------------------------------------------------------
# One squid serves both: the port of PROXY_AUTH wants Basic proxy authentication, the port
# of PROXY wants none. (tinyproxy's BasicAuth answers a wrong password with 401 and a
# WWW-Authenticate header, as if the origin server had asked; squid answers 407.) Only our
# own ports are reachable through them, CONNECT included.
htpasswd -bcm "$www/proxy/users" "$proxy_user" "$proxy_password" 2>/dev/null
# squid opens its logs after it has become the user proxy: beside the password file when
# that user cannot enter the state directory.
proxy_logs=$logs
[ "$www" = "$state/www" ] || proxy_logs=$www/proxy
: >"$proxy_logs/proxy-access.log"
: >"$proxy_logs/proxy-cache.log"
squid_user=
if ((as_root)); then
    squid_user="cache_effective_user proxy"
    chown -R proxy:proxy "$www/proxy" "$proxy_logs/proxy-access.log" "$proxy_logs/proxy-cache.log"
fi
cat >"$conf/squid.conf" <<EOF
# Written by scripts/servers/start.sh; rewritten by every start.
http_port $host:$proxy_auth_port
http_port $host:$proxy_open_port
$squid_user
pid_filename none
cache_log $proxy_logs/proxy-cache.log
# Time, local port (which of the two proxies), method, URL, status, proxy user, result.
logformat vodarezazuv %{%Y-%m-%dT%H:%M:%S}tl port=%lp %rm %ru %>Hs user=%un %Ss
access_log stdio:$proxy_logs/proxy-access.log vodarezazuv
buffered_logs off
strip_query_terms off
cache deny all
cache_mem 8 MB
coredump_dir none
pinger_enable off
# Names are resolved from /etc/hosts only; no query leaves the machine.
dns_nameservers 127.0.0.1
udp_incoming_address 127.0.0.1
udp_outgoing_address 127.0.0.1
visible_hostname vodarezazuv-proxy
shutdown_lifetime 0 seconds
read_timeout 2 minutes
client_lifetime 30 minutes
auth_param basic program /usr/lib/squid/basic_ncsa_auth $www/proxy/users
auth_param basic children 2 startup=1 idle=1
auth_param basic realm vodarezazuv proxy
acl auth_port localport $proxy_auth_port
acl open_port localport $proxy_open_port
acl loopback_client src 127.0.0.0/8
acl our_servers dst 127.0.0.1
acl our_ports port ${ports[*]}
acl proxy_users proxy_auth REQUIRED
http_access deny !loopback_client
http_access deny !our_ports
http_access deny !our_servers
http_access allow open_port
http_access allow auth_port proxy_users
http_access deny all
EOF
squid -k parse -f "$conf/squid.conf" >"$logs/proxy-configtest.log" 2>&1 || {
    cat "$logs/proxy-configtest.log" >&2
    fail "the squid configuration is not valid"
}
setsid squid -N -f "$conf/squid.conf" </dev/null >>"$logs/proxy-stderr.log" 2>&1 &
echo $! >"$run/proxy.pid"

# --- Scripted server -----------------------------------------------------------------------
rm -f -- "$run/scripted.ready"
setsid "$python" "$here/scripted_server.py" --host "$host" --port "$scripted_port" \
    --exchanges "$exchanges" --log "$logs/scripted-requests.jsonl" \
    --idle-timeout "$scripted_idle" --lifetime "$lifetime" --ready-file "$run/scripted.ready" \
    </dev/null >>"$logs/scripted-stderr.log" 2>&1 &
echo $! >"$run/scripted.pid"

# --- Watchdog ------------------------------------------------------------------------------
# Its own process group, so that stop.sh ends the sleep together with the shell.
setsid bash -c 'sleep "$2"; VODAREZAZUV_SERVERS_WATCHDOG=1 exec bash "$3" "$1"' \
    "$run/watchdog" "$state" "$lifetime" "$here/stop.sh" </dev/null >>"$logs/watchdog.log" 2>&1 &
echo $! >"$run/watchdog.pid"

# --- Wait until everything answers (at most 20 s) -----------------------------------------
deadline=$((SECONDS + 20))
wait_for() { # pid-file test-command...: gives up at the deadline or when the process ends
    local pid
    pid=$(cat -- "$1")
    shift
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)) || ! running "$pid"; then
            return 1
        fi
        sleep 0.1
    done
}
answers() { # url [curl options]: any HTTP status will do
    local code
    code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "$@") || true
    [ "$code" != 000 ] && [ -n "$code" ]
}
show_and_fail() { # message log...
    local message=$1
    shift
    for log in "$@"; do
        if [ -s "$log" ]; then
            echo "--- $log" >&2
            tail -n 30 -- "$log" >&2
        fi
    done
    fail "$message"
}

apache_urls=("http://$host:$http_port/dav/" "https://$host:$https_port/dav/"
    "https://$host:$https_expired_port/dav/" "https://$host:$https_wrong_name_port/dav/")
for url in "${apache_urls[@]}"; do
    wait_for "$run/apache.pid" answers -k "$url" ||
        show_and_fail "Apache does not answer at $url" "$logs/apache-error.log" \
            "$logs/apache-stderr.log"
done
wait_for "$run/apache.pid" answers -k --cert "$certs/client.pem" \
    "https://$host:$https_client_cert_port/dav/" ||
    show_and_fail "Apache does not answer on port $https_client_cert_port" \
        "$logs/apache-error.log" "$logs/apache-stderr.log"
pidfile_alive "$run/apache.pid" "$conf/apache.conf" ||
    show_and_fail "Apache has stopped" "$logs/apache-error.log" "$logs/apache-stderr.log"

for port in "$proxy_auth_port" "$proxy_open_port"; do
    wait_for "$run/proxy.pid" answers -x "http://$host:$port" "http://$host:$http_port/dav/" ||
        show_and_fail "squid does not answer on port $port" "$proxy_logs/proxy-cache.log" \
            "$logs/proxy-stderr.log"
done

wait_for "$run/scripted.pid" test -s "$run/scripted.ready" ||
    show_and_fail "the scripted server did not start" "$logs/scripted-stderr.log"

# --- The env file --------------------------------------------------------------------------
# One KEY=value per line, the value being the rest of the line, unquoted.
env_file=$state/servers.env
cat >"$env_file.tmp" <<EOF
STATE_DIR=$state
DAV_ROOT=$dav_root
SEED_MTIME=$seed_mtime
SPARSE_FILE=$sparse_file
HOST=$host
HTTP_PORT=$http_port
HTTPS_PORT=$https_port
HTTPS_CLIENT_CERT_PORT=$https_client_cert_port
HTTPS_EXPIRED_PORT=$https_expired_port
HTTPS_WRONG_NAME_PORT=$https_wrong_name_port
SCRIPTED_PORT=$scripted_port
PROXY_AUTH_PORT=$proxy_auth_port
PROXY_PORT=$proxy_open_port
DAV_URL=http://$host:$http_port/dav/
BASIC_URL=http://$host:$http_port/basic/
DIGEST_URL=http://$host:$http_port/digest/
HTTPS_DAV_URL=https://$host:$https_port/dav/
HTTPS_BASIC_URL=https://$host:$https_port/basic/
HTTPS_DIGEST_URL=https://$host:$https_port/digest/
CLIENT_CERT_URL=https://$host:$https_port/clientcert/
CLIENT_CERT_HANDSHAKE_URL=https://$host:$https_client_cert_port/dav/
EXPIRED_CERT_URL=https://$host:$https_expired_port/dav/
WRONG_NAME_CERT_URL=https://$host:$https_wrong_name_port/dav/
REDIRECT_301_URL=http://$host:$http_port/redirect/
REDIRECT_302_URL=http://$host:$http_port/redirect302/
SCRIPTED_URL=http://$host:$scripted_port/
BASIC_USER=$basic_user
BASIC_PASSWORD=$basic_password
BASIC_REALM=$basic_realm
DIGEST_USER=$digest_user
DIGEST_PASSWORD=$digest_password
DIGEST_REALM=$digest_realm
PROXY_AUTH=$host:$proxy_auth_port
PROXY_USER=$proxy_user
PROXY_PASSWORD=$proxy_password
PROXY=$host:$proxy_open_port
CA_CERT=$certs/ca.crt
SERVER_CERT=$certs/server.crt
CLIENT_CERT_PEM=$certs/client.pem
CLIENT_CERT=$certs/client.crt
CLIENT_KEY=$certs/client.key
CLIENT_CERT_P12=$certs/client.p12
CLIENT_CERT_CN=$client_cn
CLIENT_CERT_SERIAL=$client_serial
UNTRUSTED_CLIENT_CERT_PEM=$certs/untrusted-client.pem
APACHE_ACCESS_LOG=$logs/apache-access.log
APACHE_ERROR_LOG=$logs/apache-error.log
PROXY_LOG=$proxy_logs/proxy-access.log
PROXY_ERROR_LOG=$proxy_logs/proxy-cache.log
SCRIPTED_LOG=$logs/scripted-requests.jsonl
SCRIPTED_ERROR_LOG=$logs/scripted-stderr.log
EXCHANGES_DIR=$exchanges
EOF
mv -- "$env_file.tmp" "$env_file"
echo "Servers running; see $env_file"
