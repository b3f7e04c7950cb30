#!/usr/bin/env bash
# Packs the demo templates into a kit with descriptions in three languages.
#   demo/make_demo_kit.sh VKT OUTPUT
set -euo pipefail
vkt=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
"$vkt" pack \
  -d "en:Demo templates:Qorv sample vendor:Trade/doc/description_en.html" \
  -d "ru:Демонстрационные шаблоны:Образец поставщика:Trade/doc/description_ru.html" \
  -d "de:Demo-Vorlagen:Beispiellieferant:Trade/doc/description_de.html" \
  -o "$out" "$here/templates"
