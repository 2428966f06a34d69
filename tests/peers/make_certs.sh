#!/bin/sh
# Makes the certificates of the trust tests in the given folder, each as <name>.pem, <name>.der
# and <name>.key (PEM private key):
#   root        self-signed CA
#   inter       CA signed by root
#   leaf        server for localhost and 127.0.0.1, signed by inter
#   selfsigned  self-signed server for localhost and 127.0.0.1
#   expired     server for localhost and 127.0.0.1, signed by inter, no longer valid
#   wronghost   server for wrong-host.test only, signed by inter
#   client      client-only certificate for localhost and 127.0.0.1, signed by inter
#   samekey     self-signed for localhost and 127.0.0.1 over leaf's key (samekey.key is leaf.key)
# plus chain.pem (leaf, inter) and fullchain.pem (leaf, inter, root).
set -eu
dir=$1
cd "$dir"

key() {
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
}

der() {
    openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}

cat >ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
[wronghost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong-host.test
[client]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
CNF

key root
openssl req -x509 -new -key root.key -subj "/CN=Trust Test Root" -days 3650 \
    -extensions ca -config ext.cnf -out root.pem 2>/dev/null

# sign <name> <subject> <issuer> <section>
sign() {
    key "$1"
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 825 -extfile ext.cnf -extensions "$4" -out "$1.pem" 2>/dev/null
}

sign inter "/CN=Trust Test Intermediate" root ca
sign leaf "/CN=localhost" inter server
sign wronghost "/CN=wrong-host.test" inter wronghost
sign client "/CN=localhost client" inter client

key selfsigned
openssl req -x509 -new -key selfsigned.key -subj "/CN=localhost" -days 825 \
    -extensions server -config ext.cnf -out selfsigned.pem 2>/dev/null

openssl req -x509 -new -key leaf.key -subj "/CN=localhost same key" -days 825 \
    -extensions server -config ext.cnf -out samekey.pem 2>/dev/null
cp leaf.key samekey.key

# A certificate whose validity ended long ago needs explicit dates, which only "ca" takes.
key expired
openssl req -new -key expired.key -subj "/CN=localhost" -out expired.csr 2>/dev/null
mkdir -p ca.db
: >ca.db/index.txt
cat >ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = ca.db/index.txt
new_certs_dir = ca.db
serial = ca.db/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
CNF
openssl rand -hex 8 >ca.db/serial
openssl ca -batch -config ca.cnf -cert inter.pem -keyfile inter.key -in expired.csr \
    -startdate 20200101000000Z -enddate 20200201000000Z -notext \
    -extfile ext.cnf -extensions server -out expired.pem 2>/dev/null

for name in root inter leaf selfsigned expired wronghost client samekey; do
    der "$name"
done
cat leaf.pem inter.pem >chain.pem
cat leaf.pem inter.pem root.pem >fullchain.pem
rm -rf ca.db ca.cnf ext.cnf ./*.csr
