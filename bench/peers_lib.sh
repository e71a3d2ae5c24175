# shellcheck shell=bash disable=SC2034
# Helpers for bench/peers: tool installation, the photo corpus, the timed commands and the tables.
# Sourced by bench/peers; expects LC_ALL=C (EPOCHREALTIME must use a dot) and these globals:
# PEERS_WORK (cache folder), PEERS_RUNS, PEERS_BUDGET_US, PEERS_OURS (path or empty),
# PEERS_RESULTS (TSV being written).

# Photographs from the wallpaper packages, 2.5 to 20.5 megapixels. The packages also hold
# drawings and renderings (Fossa, Infinite-Sea, Elephants, umang, Painting-Colors, ...), which
# are left out on purpose: the corpus is meant to be camera pictures.
PEERS_PACKAGES=(lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 mate-backgrounds)
PEERS_PHOTOS=(
  Kleiber_by_Lukas_Baubkus.jpg seeding_by_Clements_Engelhardt.jpg
  Dragonfly_by_Bolly.jpg sunset_by_Aitzol_Berasategi.jpg Bridge_by_Sander_Klootwijk.jpg
  Wine_by_Jakkub_Mede.jpg picosdeeuropa_by_Aitzol_Berasategi.jpg
  aitzgorri_by_Aitzol_Berasategi.jpg friends_by_Aitzol_Berasategi.jpg
  life_by_Aitzol_Berasategi.jpg analogpattern_by_Peter_Nerlich.jpg free_by_Peter_Nerlich.jpg
  greentock_by_Peter_Nerlich.jpg Picture_0B_by_freespace.jpg
  Wood.jpg Aqua.jpg Garden.jpg LadyBird.jpg TwoWings.jpg YellowFlower.jpg
)
# --quick: the largest photo, a portrait one and a spread of sizes.
PEERS_QUICK_PHOTOS=(
  Kleiber_by_Lukas_Baubkus.jpg sunset_by_Aitzol_Berasategi.jpg Wine_by_Jakkub_Mede.jpg
  aitzgorri_by_Aitzol_Berasategi.jpg friends_by_Aitzol_Berasategi.jpg LadyBird.jpg
)
# Sources of the GIF and BMP sets (one portrait), reduced to about 4 megapixels.
PEERS_SIDE_PHOTOS=(
  Dragonfly_by_Bolly.jpg aitzgorri_by_Aitzol_Berasategi.jpg
  friends_by_Aitzol_Berasategi.jpg LadyBird.jpg
)
PEERS_SIDE_PIXELS=4000000
PEERS_MIN_MP=2.5
PEERS_MAX_MP=20.5

PEERS_TOOLS=(ours fast imagemagick vips pillow vipsthumbnail floor)
declare -A PEERS_LABEL=(
  [ours]="zevediz-resize --jobs 1"
  [fast]="zevediz-resize --fast --jobs 1"
  [imagemagick]="ImageMagick convert -filter Lanczos"
  [vips]="vips resize --kernel lanczos3"
  [pillow]="Pillow Image.LANCZOS (in-process)"
  [vipsthumbnail]="vipsthumbnail (shrink-on-load)"
  [floor]="decode floor: djpeg -dct float"
)
# Rows timed on the JPEG set only: --fast changes nothing for other formats, and the decode
# floor decodes nothing else.
declare -A PEERS_JPEG_ONLY=([fast]=1 [floor]=1)
declare -A PEERS_WIDTH=() PEERS_HEIGHT=()

# Whether a tool has a row in the tables of a set.
peers_tool_applies() { [ "$1" = jpeg ] || [ -z "${PEERS_JPEG_ONLY[$2]:-}" ]; }

# CPU time (user + system) of all waited-for children so far, in microseconds, into PEERS_CPU_US.
# `times` is a builtin: redirecting it to a file forks nothing, so it sees this shell's children.
peers_children_cpu() {
  local user system
  times >"$PEERS_WORK/.times"
  { read -r _ _; read -r user system; } <"$PEERS_WORK/.times"
  PEERS_CPU_US=$(($(peers_clock_us "$user") + $(peers_clock_us "$system")))
}
peers_clock_us() { # "1m2.345s" -> microseconds
  local minutes=${1%%m*} seconds=${1#*m}
  seconds=${seconds%s}
  echo $((minutes * 60000000 + 10#${seconds%.*} * 1000000 + 10#${seconds#*.} * 1000))
}
peers_load() { cut -d' ' -f1 /proc/loadavg; }

peers_say() { printf '%s\n' "$*" >&2; }
peers_die() {
  printf 'bench/peers: %s\n' "$*" >&2
  exit 1
}

peers_apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! $sudo apt-get install -y -q --no-install-recommends "$@" >"$PEERS_WORK/apt.log" 2>&1; then
    $sudo apt-get update -q >>"$PEERS_WORK/apt.log" 2>&1 || true
    $sudo apt-get install -y -q --no-install-recommends "$@" >>"$PEERS_WORK/apt.log" 2>&1
  fi
}

# Installs the peers (Debian packages only) and the tools the script itself uses.
peers_require_tools() {
  local missing=()
  command -v convert-im6.q16 >/dev/null || missing+=(imagemagick)
  { command -v vips && command -v vipsthumbnail && command -v vipsheader; } >/dev/null \
    || missing+=(libvips-tools)
  /usr/bin/python3 -c 'import PIL' 2>/dev/null || missing+=(python3-pil)
  [ -x /usr/bin/time ] || missing+=(time)
  command -v djpeg >/dev/null || missing+=(libjpeg-turbo-progs)
  command -v dpkg-deb >/dev/null || missing+=(dpkg)
  command -v cwebp >/dev/null || missing+=(webp)
  if [ "$PEERS_BUILD" = 1 ]; then
    # What our build needs is the project's own list.
    "$PEERS_ROOT/scripts/setup.sh" >>"$PEERS_WORK/apt.log" 2>&1 || peers_die "scripts/setup.sh failed"
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    peers_say "Installing ${missing[*]} (log: $PEERS_WORK/apt.log)"
    peers_apt_install "${missing[@]}" || peers_die "apt-get install ${missing[*]} failed"
  fi
}

# Builds zevediz-resize into build-bench/; on failure ours is reported unavailable.
peers_build_ours() {
  local build="$1" log="$PEERS_WORK/build.log"
  peers_say "Building zevediz-resize in $build (log: $log)"
  if cmake -S "$PEERS_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTZ_BUILD_GUI=OFF -DTZ_BUILD_TESTS=OFF >"$log" 2>&1 \
    && cmake --build "$build" -j2 --target zevediz-resize >>"$log" 2>&1; then
    PEERS_OURS="$build/src/cli/zevediz-resize"
  else
    PEERS_OURS=""
    PEERS_BUILD_WHY="build failed, see $log"
  fi
}

# Reads width and height of every picture given into PEERS_WIDTH/PEERS_HEIGHT.
peers_read_sizes() {
  local file width height
  for file in "$@"; do
    [ -n "${PEERS_WIDTH[$file]:-}" ] && continue
    read -r width height < <(vipsheader -f width "$file" | tr '\n' ' '; vipsheader -f height "$file")
    PEERS_WIDTH[$file]=$width
    PEERS_HEIGHT[$file]=$height
  done
}

peers_ms() { awk -v u="$1" 'BEGIN { printf "%.3f", u / 1000 }'; }
peers_megapixels() { awk -v w="${PEERS_WIDTH[$1]}" -v h="${PEERS_HEIGHT[$1]}" 'BEGIN { printf "%.4f", w * h / 1e6 }'; }

# Fetches the wallpaper packages once and fills corpus/{jpeg,gif,bmp,png,webp}; reuses what is
# there.
peers_make_corpus() {
  local debs="$PEERS_WORK/debs" tree="$PEERS_WORK/tree" corpus="$PEERS_WORK/corpus"
  mkdir -p "$debs" "$tree" "$corpus/jpeg" "$corpus/gif" "$corpus/bmp" "$corpus/png" "$corpus/webp"
  local package
  for package in "${PEERS_PACKAGES[@]}"; do
    if ! compgen -G "$debs/${package}_*.deb" >/dev/null; then
      peers_say "Fetching $package"
      (cd "$debs" && apt-get download "$package" >"$PEERS_WORK/download.log" 2>&1) \
        || (cd "$debs" && apt-get update -q >>"$PEERS_WORK/download.log" 2>&1 \
              && apt-get download "$package" >>"$PEERS_WORK/download.log" 2>&1) \
        || peers_die "apt-get download $package failed (see $PEERS_WORK/download.log)"
    fi
  done
  if [ ! -f "$tree/.unpacked" ]; then
    local deb
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$tree"; done
    touch "$tree/.unpacked"
  fi

  local name found mp
  for name in "${PEERS_PHOTOS[@]}"; do
    [ -f "$corpus/jpeg/$name" ] && continue
    found=$(find "$tree" -type f -name "$name" -print -quit)
    if [ -z "$found" ]; then
      peers_say "warning: $name is not in the packages any more; left out"
      continue
    fi
    peers_read_sizes "$found"
    mp=$(peers_megapixels "$found")
    if awk -v m="$mp" -v lo="$PEERS_MIN_MP" -v hi="$PEERS_MAX_MP" 'BEGIN { exit !(m < lo || m > hi) }'; then
      peers_say "warning: $name has $mp MP, outside $PEERS_MIN_MP..$PEERS_MAX_MP; left out"
      continue
    fi
    cp "$found" "$corpus/jpeg/$name"
  done

  local base
  for name in "${PEERS_SIDE_PHOTOS[@]}"; do
    [ -f "$corpus/jpeg/$name" ] || continue
    base=${name%.jpg}
    if [ "$(head -c 4 "$corpus/gif/$base.gif" 2>/dev/null)" != GIF8 ]; then
      convert-im6.q16 "$corpus/jpeg/$name" -resize "${PEERS_SIDE_PIXELS}@>" "GIF:$corpus/gif/$base.gif.part" \
        && mv "$corpus/gif/$base.gif.part" "$corpus/gif/$base.gif"
    fi
    if [ "$(head -c 2 "$corpus/bmp/$base.bmp" 2>/dev/null)" != BM ]; then
      convert-im6.q16 "$corpus/jpeg/$name" -resize "${PEERS_SIDE_PIXELS}@>" -type truecolor \
        "BMP3:$corpus/bmp/$base.bmp.part" && mv "$corpus/bmp/$base.bmp.part" "$corpus/bmp/$base.bmp"
    fi
    if [ "$(head -c 4 "$corpus/png/$base.png" 2>/dev/null | tail -c 3)" != PNG ]; then
      convert-im6.q16 "$corpus/jpeg/$name" -resize "${PEERS_SIDE_PIXELS}@>" \
        "PNG24:$corpus/png/$base.png.part" && mv "$corpus/png/$base.png.part" "$corpus/png/$base.png"
    fi
    # WebP made from the PNG by the WebP library's own tool, at the quality the tools write.
    if [ "$(head -c 4 "$corpus/webp/$base.webp" 2>/dev/null)" != RIFF ] && [ -f "$corpus/png/$base.png" ]; then
      cwebp -quiet -q 89 "$corpus/png/$base.png" -o "$corpus/webp/$base.webp.part" \
        && mv "$corpus/webp/$base.webp.part" "$corpus/webp/$base.webp"
    fi
  done
}

# --- The timed commands: one file, size N, output into the folder given. -------------------

peers_cmd_ours() { # N file outdir(unused: the program writes into resized/ beside the source)
  "$PEERS_OURS" --size "$1" --jobs 1 --quiet "$2"
}
peers_out_ours() { printf '%s/resized/%s' "$(dirname "$2")" "$(basename "$2")"; }
peers_cmd_fast() { "$PEERS_OURS" --fast --size "$1" --jobs 1 --quiet --output-dir "$3" "$2"; }

peers_cmd_imagemagick() {
  # For PNG, ImageMagick reads -quality as the compression level and filter: left at its default.
  local quality=(-quality 89)
  [[ "$2" == *.png ]] && quality=()
  MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 \
    convert-im6.q16 "$2" -filter Lanczos -resize "$1x$1" "${quality[@]}" "$(peers_out_peer "$@")"
}

peers_cmd_vips() {
  local longer=${PEERS_WIDTH[$2]}
  ((PEERS_HEIGHT[$2] > longer)) && longer=${PEERS_HEIGHT[$2]}
  local scale
  scale=$(awk -v n="$1" -v l="$longer" 'BEGIN { printf "%.12f", n / l }')
  VIPS_CONCURRENCY=1 vips resize "$2" "$(peers_out_peer "$@")$(peers_vips_options "$2")" "$scale" \
    --kernel lanczos3
}

# What decoding alone costs: the library's float IDCT, the one our decoder uses, and nothing
# written. Its time bounds ours from below.
peers_cmd_floor() { djpeg -dct float -outfile /dev/null "$2"; }

peers_cmd_vipsthumbnail() {
  VIPS_CONCURRENCY=1 vipsthumbnail "$2" --size "$1" -o "$(peers_out_peer "$@")$(peers_vips_options "$2")"
}

peers_vips_options() { case "$1" in *.jpg | *.jpeg | *.webp) printf '[Q=89]' ;; esac; }
peers_out_peer() { printf '%s/%s' "$3" "$(basename "$2")"; }

# Runs one bash-driven tool on one file: a run, a second, a third while the file's time stays
# within the budget. Sets PEERS_BEST_US and PEERS_DONE; returns 1 (PEERS_ERROR set) on failure.
peers_time_file() {
  local tool="$1" size="$2" file="$3" outdir="$4" log="$5"
  local output start stop elapsed spent=0 cpu_start
  PEERS_BEST_US="" PEERS_BEST_CPU_US="" PEERS_DONE=0 PEERS_ERROR=""
  case "$tool" in
    ours) output=$(peers_out_ours "$size" "$file") ;;
    floor) output="" ;;
    *) output=$(peers_out_peer "$size" "$file" "$outdir") ;;
  esac
  [ -z "$output" ] || rm -f "$output"
  while ((PEERS_DONE < PEERS_RUNS)); do
    peers_children_cpu
    cpu_start=$PEERS_CPU_US
    start=${EPOCHREALTIME/./}
    "peers_cmd_$tool" "$size" "$file" "$outdir" >>"$log" 2>&1 || {
      PEERS_ERROR="exit status $? ($(tail -n 1 "$log" | cut -c1-100))"
      return 1
    }
    stop=${EPOCHREALTIME/./}
    peers_children_cpu
    elapsed=$((stop - start))
    if [ -z "$PEERS_BEST_CPU_US" ] || ((PEERS_CPU_US - cpu_start < PEERS_BEST_CPU_US)); then
      PEERS_BEST_CPU_US=$((PEERS_CPU_US - cpu_start))
    fi
    if [ -n "$output" ] && [ ! -s "$output" ]; then
      PEERS_ERROR="no output written"
      return 1
    fi
    PEERS_DONE=$((PEERS_DONE + 1))
    spent=$((spent + elapsed))
    if [ -z "$PEERS_BEST_US" ] || ((elapsed < PEERS_BEST_US)); then PEERS_BEST_US=$elapsed; fi
    ((PEERS_DONE >= 2 && spent > PEERS_BUDGET_US)) && break
  done
  return 0
}

peers_record() { # set size tool file status wall-ms cpu-ms runs note
  local mp
  mp=$(peers_megapixels "$4")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$(basename "$4")" "$mp" "$5" "$6" "$7" "$8" "${9:-}" \
    >>"$PEERS_RESULTS"
}

# Checks that our program resizes one file of the set correctly; sets PEERS_OURS_WHY if not.
peers_probe_ours() {
  local file="$1" log="$2" output width height longer
  PEERS_OURS_WHY=""
  if [ -z "$PEERS_OURS" ] || [ ! -x "$PEERS_OURS" ]; then
    PEERS_OURS_WHY=${PEERS_BUILD_WHY:-"not built"}
    return 1
  fi
  output=$(peers_out_ours 160 "$file")
  rm -f "$output"
  if ! timeout 120 "$PEERS_OURS" --size 160 --jobs 1 --quiet "$file" >"$log" 2>&1; then
    PEERS_OURS_WHY="fails: $(tail -n 1 "$log" | cut -c1-90)"
    return 1
  fi
  if [ ! -s "$output" ]; then
    PEERS_OURS_WHY="wrote no output (exit status 0)"
    return 1
  fi
  if ! width=$(vipsheader -f width "$output" 2>/dev/null) || ! height=$(vipsheader -f height "$output" 2>/dev/null); then
    PEERS_OURS_WHY="output is not a readable picture"
    return 1
  fi
  longer=$width
  ((height > longer)) && longer=$height
  if ((longer != 160)); then
    PEERS_OURS_WHY="output is ${width}x${height}, expected a longer side of 160"
    return 1
  fi
  return 0
}

# Times every tool on one set at one size and appends the per-file results. The tools take
# turns file by file, so that a change in the machine's load falls on all of them alike.
peers_time_set() {
  local set="$1" size="$2"
  shift 2
  local files=("$@") tool file log started=${EPOCHREALTIME/./}
  mkdir -p "$PEERS_WORK/logs"
  cat "${files[@]}" >/dev/null # page cache warm
  PEERS_LOADS=$(peers_load)
  for tool in "${PEERS_TOOLS[@]}"; do
    mkdir -p "$PEERS_WORK/out/$tool/$set"
    : >"$PEERS_WORK/logs/$set-$size-$tool.log"
  done
  for tool in "${PEERS_TOOLS[@]}"; do # warm-up
    peers_tool_applies "$set" "$tool" || continue
    { [ "$tool" = ours ] || [ "$tool" = fast ]; } && [ -n "${PEERS_OURS_UNAVAILABLE[$set]:-}" ] && continue
    if [ "$tool" = pillow ]; then
      peers_pillow_file "$size" "${files[0]}" "$PEERS_WORK/out/pillow/$set" 1 || true
    else
      "peers_cmd_$tool" "$size" "${files[0]}" "$PEERS_WORK/out/$tool/$set" >/dev/null 2>&1 || true
    fi
  done
  for file in "${files[@]}"; do
    for tool in "${PEERS_TOOLS[@]}"; do
      peers_tool_applies "$set" "$tool" || continue
      log="$PEERS_WORK/logs/$set-$size-$tool.log"
      if { [ "$tool" = ours ] || [ "$tool" = fast ]; } && [ -n "${PEERS_OURS_UNAVAILABLE[$set]:-}" ]; then
        peers_record "$set" "$size" "$tool" "$file" NA "" "" 0 "${PEERS_OURS_UNAVAILABLE[$set]}"
      elif [ "$tool" = pillow ]; then
        if peers_pillow_file "$size" "$file" "$PEERS_WORK/out/pillow/$set" "$PEERS_RUNS"; then
          peers_record "$set" "$size" pillow "$file" OK "$PEERS_PILLOW_MS" "$PEERS_PILLOW_CPU_MS" "$PEERS_DONE"
        else
          printf '%s: %s\n' "$file" "$PEERS_ERROR" >>"$log"
          peers_record "$set" "$size" pillow "$file" FAIL "" "" 0 "$PEERS_ERROR"
        fi
      elif peers_time_file "$tool" "$size" "$file" "$PEERS_WORK/out/$tool/$set" "$log"; then
        peers_record "$set" "$size" "$tool" "$file" OK "$(peers_ms "$PEERS_BEST_US")" "$(peers_ms "$PEERS_BEST_CPU_US")" "$PEERS_DONE"
      else
        peers_record "$set" "$size" "$tool" "$file" FAIL "" "" 0 "$PEERS_ERROR"
      fi
    done
  done
  PEERS_LOADS="$PEERS_LOADS -> $(peers_load)"
  peers_say "  $set N=$size: $(((${EPOCHREALTIME/./} - started) / 1000000)) s"
}

# Pillow runs in one long-lived interpreter (a coprocess), so its start-up is paid once.
peers_pillow_start() {
  coproc PEERS_PILLOW { exec /usr/bin/python3 "$PEERS_HERE/peers_pillow.py" --serve 2>>"$PEERS_WORK/logs/pillow.log"; }
}

# One file through the Pillow coprocess; sets PEERS_PILLOW_MS, PEERS_PILLOW_CPU_MS, PEERS_DONE.
peers_pillow_file() {
  local size="$1" file="$2" outdir="$3" runs="$4" status name ms cpu count
  PEERS_ERROR=""
  if [ -z "${PEERS_PILLOW[1]:-}" ]; then
    PEERS_ERROR="Pillow helper not running (see $PEERS_WORK/logs/pillow.log)"
    return 1
  fi
  printf '%s\t%s\t%s\t%s\t%s\n' "$size" "$file" "$outdir" "$runs" \
    "$(awk -v u="$PEERS_BUDGET_US" 'BEGIN { print u / 1e6 }')" >&"${PEERS_PILLOW[1]}"
  if ! IFS=$'\t' read -r -t 600 status name ms cpu count <&"${PEERS_PILLOW[0]}"; then
    PEERS_ERROR="Pillow helper gave no answer (see $PEERS_WORK/logs/pillow.log)"
    return 1
  fi
  if [ "$status" != OK ]; then
    PEERS_ERROR=$ms
    return 1
  fi
  PEERS_PILLOW_MS=$ms PEERS_PILLOW_CPU_MS=$cpu PEERS_DONE=$count
}

# Prints the table of one set at one size from the results file.
peers_table() {
  local set="$1" size="$2" title="$3" loads="$4"
  awk -F'\t' -v set="$set" -v size="$size" -v title="$title" -v loads="$loads" -v order="${PEERS_TOOLS[*]}" \
    -v labels="$(for t in "${PEERS_TOOLS[@]}"; do printf '%s\t' "${PEERS_LABEL[$t]}"; done)" '
    $1 == set && $2 == size {
      tool = $3; file = $4
      mp[file] = $5
      files[file] = 1
      status[tool, file] = $6
      ms[tool, file] = $7
      cpu[tool, file] = $8
      if ($6 == "OK") { okms[tool] += $7; okcpu[tool] += $8; okmp[tool] += $5; ok[tool]++ }
      else { bad[tool]++; if (!(tool in why)) why[tool] = $10 }
      count[tool]++
    }
    END {
      nfiles = 0; total = 0
      for (f in files) { nfiles++; total += mp[f] }
      if (nfiles == 0) exit
      printf "\n%s, N = %d: %d files, %.1f MP in all (load average %s)\n", title, size, nfiles, total, loads
      printf "  %-38s %9s %8s %9s %7s  %s\n", "tool", "ms/MP", "total s", "cpu ms/MP", "ratio", "note"
      n = split(order, tools, " "); split(labels, names, "\t")
      for (i = 1; i <= n; i++) {
        t = tools[i]
        if (!(t in count)) continue
        if (ok[t] == 0) {
          printf "  %-38s %9s %8s %9s %7s  %s\n", names[i], "-", "-", "-", "-", (t == "ours" || t == "fast" ? "unavailable: " : "failed: ") why[t]
          continue
        }
        note = ""
        if (bad[t] > 0) note = sprintf("failed on %d of %d files: %s", bad[t], count[t], why[t])
        ratio = "-"
        if (t == "ours") ratio = "1.00"
        else {
          # Over the files that both this tool and ours did.
          a = 0; b = 0; ac = 0; bc = 0
          for (f in files) if (status[t, f] == "OK" && status["ours", f] == "OK") {
            a += ms[t, f]; b += ms["ours", f]; ac += cpu[t, f]; bc += cpu["ours", f]
          }
          if (b > 0) ratio = sprintf("%.2f", a / b)
          # The floor is read the other way round: how many times the bare decode ours takes.
          if (t == "floor" && a > 0 && ac > 0 && note == "")
            note = sprintf("ours / floor: cpu %.2f, wall %.2f", bc / ac, b / a)
          # The fast mode is measured against the fastest peer, which reduces its decode too.
          if (t == "fast" && note == "") {
            a = 0; ac = 0; b = 0; bc = 0
            for (f in files) if (status["fast", f] == "OK" && status["vipsthumbnail", f] == "OK") {
              a += ms["fast", f]; ac += cpu["fast", f]; b += ms["vipsthumbnail", f]; bc += cpu["vipsthumbnail", f]
            }
            if (b > 0 && bc > 0) note = sprintf("fast / vipsthumbnail: cpu %.2f, wall %.2f", ac / bc, a / b)
          }
        }
        printf "  %-38s %9.1f %8.2f %9.1f %7s  %s\n", names[i], okms[t] / okmp[t], okms[t] / 1000, okcpu[t] / okmp[t], ratio, note
      }
    }' "$PEERS_RESULTS"
}
