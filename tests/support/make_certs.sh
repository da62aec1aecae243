#!/bin/sh
# Makes the test gateway's certificates in folder $1: a CA (ca.pem), a server
# certificate it signed for localhost and 127.0.0.1 (srv.pem, srv.key), and an
# unrelated CA (other.pem).
set -e
d=$1
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $ec -keyout "$d/ca.key" -out "$d/ca.pem" -days 2 -subj /CN=TestCA
openssl req $ec -keyout "$d/srv.key" -out "$d/srv.csr" -subj /CN=localhost
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > "$d/ext.cnf"
openssl x509 -req -in "$d/srv.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial -out "$d/srv.pem" -days 2 \
  -extfile "$d/ext.cnf"
openssl req -x509 $ec -keyout "$d/other.key" -out "$d/other.pem" -days 2 -subj /CN=OtherCA
