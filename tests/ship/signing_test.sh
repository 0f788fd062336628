#!/usr/bin/env bash
# make installer with SIGN_PFX: a throwaway self-signed certificate, made here
# with openssl, signs the i686 sample installer through scripts/installer.sh.
#   - osslsigncode verify accepts the signature (the certificate as CA);
#   - the password is in no output;
#   - the payload resources are byte for byte the unsigned build's;
#   - no SIGN_PFX: the output is the build's file, byte for byte;
#   - a signed copy of this tree's setup.exe completes the sample installation
#     under Wine through the end-to-end driver (the i686 one cannot run here).
# Usage: signing_test.sh ROOT I686_TREE TEST_SETUP WINE_RUN WIZARD_E2E WRESTOOL SCRATCH
set -u
root=$1 i686=$2 test_setup=$3 wine_run=$4 driver=$5 wrestool=$6 scratch=$7
rm -rf "$scratch" && mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The throwaway certificate: code signing, valid for a day, password random.
head -c 18 /dev/urandom | base64 | tr -d '/+=' > "$scratch/password"
password=$(cat "$scratch/password")
openssl req -x509 -newkey rsa:2048 -sha256 -days 1 -nodes -subj "/CN=TowerLink throwaway signing test" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null ||
  { echo "FAIL: openssl could not make a certificate"; exit 1; }
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -out "$scratch/cert.pfx" \
  -passout "file:$scratch/password" || { echo "FAIL: openssl could not make the .pfx"; exit 1; }

# make installer's own step, signed and unsigned (no PAYLOAD: the sample installer).
SIGN_PFX="$scratch/cert.pfx" SIGN_PASSWORD_FILE="$scratch/password" \
  bash "$root/scripts/installer.sh" "$i686" "" "$scratch/towerlink-setup.exe" >"$scratch/signed.log" 2>&1 ||
  fail "the signed make installer failed: $(tail -3 "$scratch/signed.log")"
SIGN_PFX= bash "$root/scripts/installer.sh" "$i686" "" "$scratch/unsigned-setup.exe" >"$scratch/unsigned.log" 2>&1 ||
  fail "the unsigned make installer failed: $(tail -3 "$scratch/unsigned.log")"
grep -qF "$password" "$scratch/signed.log" && fail "the password appears in make installer's output"
cmp -s "$scratch/unsigned-setup.exe" "$i686/setup.exe" || fail "without SIGN_PFX the output differs from the build's setup.exe"
cmp -s "$scratch/towerlink-setup.exe" "$i686/setup.exe" && fail "the signed output is the unsigned file"

if osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/towerlink-setup.exe" >"$scratch/verify.log" 2>&1; then
  grep -qi "digest algorithm *: *sha256" "$scratch/verify.log" || fail "the signature's digest is not SHA-256: $(grep -i digest "$scratch/verify.log")"
  echo "osslsigncode verify: $(grep -m1 -i 'Signature verification' "$scratch/verify.log")"
else
  fail "osslsigncode verify refuses the signed installer: $(tail -5 "$scratch/verify.log")"
fi
# A second certificate that did not sign it must not verify it.
openssl req -x509 -newkey rsa:2048 -days 1 -nodes -subj "/CN=Someone else" -keyout "$scratch/other.key" \
  -out "$scratch/other.pem" 2>/dev/null
osslsigncode verify -CAfile "$scratch/other.pem" -in "$scratch/towerlink-setup.exe" >/dev/null 2>&1 &&
  fail "osslsigncode verify accepts the signature against a certificate that did not make it"

# Payload resources: RT_RCDATA, every id, byte for byte.
ids=$("$wrestool" -l --type=10 "$scratch/unsigned-setup.exe" | sed -n 's/.*--name=\([0-9]*\).*/\1/p')
[ -n "$ids" ] || fail "no payload resources in the unsigned installer"
for id in $ids; do
  "$wrestool" -x --raw --type=10 --name="$id" -o "$scratch/u.bin" "$scratch/unsigned-setup.exe"
  "$wrestool" -x --raw --type=10 --name="$id" -o "$scratch/s.bin" "$scratch/towerlink-setup.exe"
  cmp -s "$scratch/u.bin" "$scratch/s.bin" || fail "payload resource $id differs after signing"
done
echo "payload resources compared: $(echo $ids | wc -w)"

# The signed installer under Wine: this tree's setup.exe, signed the same way,
# through the end-to-end scenario SameComputer with FS2004 and FSX.
SIGN_PFX="$scratch/cert.pfx" SIGN_PASSWORD_FILE="$scratch/password" \
  bash "$root/scripts/sign.sh" "$test_setup" "$scratch/signed-test-setup.exe" >/dev/null ||
  fail "sign.sh could not sign $test_setup"
if [ -f "$scratch/signed-test-setup.exe" ]; then
  TL_E2E_SETUP_EXE="$scratch/signed-test-setup.exe" "$wine_run" "$driver" --gtest_filter=WizardEndToEnd.SameComputerWithFs2004AndFsx \
    >"$scratch/e2e.log" 2>&1
  e2e_rc=$?
  if grep -q '\[  PASSED  \] 1 test' "$scratch/e2e.log" && ! grep -q '\[  FAILED  \]' "$scratch/e2e.log"; then
    echo "the signed installer completed the sample installation"
  else
    fail "the signed installer did not complete the sample installation (the driver's exit code $e2e_rc): $(tail -15 "$scratch/e2e.log")"
  fi
fi

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ $failures -eq 0 ]
