#!/bin/sh
# makensis for a 64-bit installer (CPack's script makes a 32-bit one, which a
# 64-bit-only Windows or Wine cannot start), its script read as UTF-8 for the
# Russian names. CPack cannot pass an argument with a space in it.
exec makensis -INPUTCHARSET UTF8 "-XTarget amd64-unicode" "$@"
