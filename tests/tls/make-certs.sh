#!/bin/sh
# tests/tls/make-certs.sh DIR: the certificates the TLS engine's tests use, made by the openssl
# tool into DIR (which must exist and be empty). The tests call it once per build tree.
#
#   ca            root CA "kw tls root" (RSA)            int   intermediate CA under ca
#   server-rsa    localhost, 127.0.0.1 (RSA, under int)  server-dsa  the same names (DSA)
#   server-dh     localhost with a DH key (fixed DH, signed by int's RSA key)
#   expired       localhost, expired                     wildcard    *.kw.test
#   cn-only       CN=localhost without subjectAltName    ip-only     IP:127.0.0.1 only
#   other         other.example                          self        self-signed localhost
#   wild-address  DNS:*.0.0.1 only (a DNS name that reads like addresses)
#   client        a client certificate (RSA, under int)  client-dsa  the same (DSA)
#   temp512       a 512-bit RSA key (an export suite's temporary key)
#   ffdhe2048.pem the RFC 7919 group as DH parameters
#   server-rsa-ocsp.der  an OCSP response about server-rsa
# Each X has X.key (PKCS#8 PEM) and X.pem; X-chain.pem is X.pem then int.pem. dsa.key is also
# in the traditional DSA form (X-trad.key), client.key in PKCS#1 DER (client-pkcs1.der).
set -eu
cd "$1"
o() { openssl "$@" >/dev/null 2>&1; }

o genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca.key
o req -x509 -new -key ca.key -out ca.pem -days 3650 -subj "/CN=kw tls root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
o genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out int.key
o req -new -key int.key -out int.csr -subj "/CN=kw tls intermediate"
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' > int.ext
o x509 -req -in int.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out int.pem -days 3650 -extfile int.ext

o dsaparam -out dsa.param 1024
o genpkey -paramfile dsa.param -out dsa.key
o genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key
o genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out client.key
o genpkey -paramfile dsa.param -out client-dsa.key
o genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out temp512.key
o pkey -in dsa.key -traditional -out dsa-trad.key
o pkey -in client-dsa.key -traditional -out client-dsa-trad.key
o rsa -in client.key -traditional -outform DER -out client-pkcs1.der
o pkey -in client.key -outform DER -out client-pkcs8.der
o genpkey -genparam -algorithm DHX -pkeyopt group:dh_2048_224 -out dh.param
o genpkey -paramfile dh.param -out dh.key
o pkey -in dh.key -pubout -out dh.pub

# issue NAME KEY SUBJECT DAYS EXTENSIONS [CA]
issue() {
    name=$1 key=$2 subj=$3 days=$4 ext=$5 ca=${6:-int}
    printf '%b' "$ext" > "$name.ext"
    o req -new -key "$key" -out "$name.csr" -subj "$subj"
    o x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -out "$name.pem" \
        -days "$days" -extfile "$name.ext"
    [ "$key" = "$name.key" ] || cp "$key" "$name.key"
    cat "$name.pem" int.pem > "$name-chain.pem"
}
server='basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n'
issue server-rsa rsa.key /CN=localhost 3650 "$server"
issue server-dsa dsa.key /CN=localhost 3650 "$server"
cp dsa-trad.key server-dsa-trad.key
issue wildcard rsa.key "/CN=kw wildcard" 3650 'subjectAltName=DNS:*.kw.test\n'
issue cn-only rsa.key /CN=localhost 3650 'basicConstraints=CA:FALSE\n'
issue ip-only rsa.key "/CN=kw address" 3650 'subjectAltName=IP:127.0.0.1\n'
issue other rsa.key /CN=other.example 3650 'subjectAltName=DNS:other.example\n'
issue wild-address rsa.key "/CN=kw wild address" 3650 'subjectAltName=DNS:*.0.0.1\n'
issue client client.key "/CN=kw client" 3650 'extendedKeyUsage=clientAuth\n'
issue client-dsa client-dsa.key "/CN=kw dsa client" 3650 'extendedKeyUsage=clientAuth\n'
# Expired: its end lies a day before its start, which is now.
printf '%b' "$server" > expired.ext
o req -new -key rsa.key -out expired.csr -subj /CN=localhost
o x509 -req -in expired.csr -CA int.pem -CAkey int.key -CAcreateserial -out expired.pem -days -1 -extfile expired.ext
cp rsa.key expired.key
cat expired.pem int.pem > expired-chain.pem
o req -x509 -new -key rsa.key -out self.pem -days 3650 -subj /CN=localhost -addext subjectAltName=DNS:localhost
cp rsa.key self.key
cp self.pem self-chain.pem
# Fixed DH: the DH key in a certificate the intermediate signs.
printf 'basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost\nkeyUsage=keyAgreement\n' > server-dh.ext
o x509 -new -force_pubkey dh.pub -subj /CN=localhost -CA int.pem -CAkey int.key -CAcreateserial \
    -out server-dh.pem -days 3650 -extfile server-dh.ext
cp dh.key server-dh.key
cat server-dh.pem int.pem > server-dh-chain.pem
cat ca.pem int.pem > trust.pem
# RFC 7919's ffdhe2048 as PKCS#3 parameters, for servers that need their DHE group given.
o genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out ffdhe2048.pem
# An OCSP response for server-rsa, signed by the intermediate (the status stapled by s_server).
touch index.txt
o ocsp -issuer int.pem -cert server-rsa.pem -reqout ocsp-request.der -no_nonce
o ocsp -index index.txt -rsigner int.pem -rkey int.key -CA int.pem -reqin ocsp-request.der \
    -respout server-rsa-ocsp.der -ndays 2
touch done-4
