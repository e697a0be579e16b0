# kalosqm-cli astro: almanac output for known places and instants, and
# refusal of bad arguments. Run with -DCLI=<path of kalosqm-cli>.
function(run_cli expected_rc)
  execute_process(COMMAND ${CLI} astro ${ARGN}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "astro ${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect text pattern)
  string(REGEX MATCH "${pattern}" found "${text}")
  if(NOT found)
    message(FATAL_ERROR "expected /${pattern}/ in:\n${text}")
  endif()
endfunction()

# Site 45 N 9 E at 2020-06-21 12:00 UT.
run_cli(0 --lat 45 --lon 9 --utc "2020-06-21 12:00:00")
expect("${out}" "Instant +2020-06-21 12:00:00 UT")
expect("${out}" "Sun +altitude +67\\.344 deg, azimuth 200\\.674 deg")
expect("${out}" "Moon +altitude +68\\.286 deg, azimuth 194\\.049 deg")
expect("${out}" "Moon age +0\\.2[0-9][0-9] days")
expect("${out}" "Moon phase angle +177\\.[0-9][0-9] deg \\(waxing\\)")
expect("${out}" "Sunrise +2020-06-21 03:3[67]:[0-9][0-9] UT")
expect("${out}" "Sunset +2020-06-21 19:1[34]:[0-9][0-9] UT")
expect("${out}" "Astronomical dawn +2020-06-21 01:0[34]:[0-9][0-9] UT")
expect("${out}" "Astronomical dusk +2020-06-21 21:4[78]:[0-9][0-9] UT")

# West longitudes are given negative; the events are those of the UT day.
run_cli(0 --lat=34 --lon=-118 --utc "2020-06-21 20:00:00")
expect("${out}" "Sunset +2020-06-21 03:0[56]:")
expect("${out}" "Sunrise +2020-06-21 12:4[01]:")

# No astronomical night at 60 N in June; no sunrise at 70 N in December.
run_cli(0 --lat 60 --lon 9 --utc "2020-06-21 00:00:00")
expect("${out}" "Sunrise +2020-06-21 0[12]:[0-9][0-9]:[0-9][0-9] UT")
expect("${out}" "Astronomical dawn +does not occur")
expect("${out}" "Astronomical dusk +does not occur")
run_cli(0 --lat 70 --lon 9 --utc "2020-12-21 12:00:00")
expect("${out}" "Sunrise +does not occur")
expect("${out}" "Astronomical dusk +2020-12-21 16:3[45]:")

# Without --utc it uses the present instant.
run_cli(0 --lat -35 --lon 150)
expect("${out}" "Instant +[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9:]+ UT")

# Bad arguments: a message and exit code 2.
run_cli(2 --lat 45)
expect("${err}" "--lon is required")
run_cli(2 --lon 9)
run_cli(2 --lat 91 --lon 9)
expect("${err}" "--lat: Value 91 not in range")
run_cli(2 --lat 45 --lon 181)
expect("${err}" "--lon: Value 181 not in range")
run_cli(2 --lat nan --lon 9)
run_cli(2 --lat 45x --lon 9)
run_cli(2 --lat 45 --lon 9 --utc "2021-02-29 00:00:00")
expect("${err}" "--utc: .2021-02-29 00:00:00. is not")
run_cli(2 --lat 45 --lon 9 --utc "2020-06-21T12:00:00")
run_cli(2 --lat 45 --lon 9 --utc "2020-06-21 24:00:00")
run_cli(2 --lat 45 --lon 9 --utc)
run_cli(2 --lat 45 --lon 9 --bogus 1)
