# Sourced by the benchmarks: builds and starts the listener with a trivial action
# and an nginx (one worker, no master process) that answers the same small body, both on loopback.
# Sets service_port, service_pid, nginx_port, nginx_worker and work (a scratch
# folder), and stops both and removes the folder on exit.
#   start_servers [nginx worker_connections]
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/setup
cmake --preset default >/dev/null
cmake --build build --target http_bench_server >/dev/null

work=$(mktemp -d)
service_pid=""
nginx_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_servers() {
  local connections=${1:-4096}
  build/http_bench_server 0 > "$work/port" &
  service_pid=$!
  for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
  service_port=$(head -n1 "$work/port")

  nginx_port=$(free_port)
  mkdir -p "$work/nginx"
  cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
master_process off;
worker_rlimit_nofile $((connections * 2));
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections $connections; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    location / { default_type application/json; return 200 '{"ok":true}'; }
  }
}
CONF
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  nginx_pid=$!
  sleep 0.5
  nginx_worker=$nginx_pid  # master_process off: the one process is the worker
}
