-- wrk script for the API benchmarks: method, JSON body and bearer token come from the
-- environment (BENCH_METODO, BENCH_CORPO, BENCH_TOKEN). Every request asks for the connection
-- to be closed, as our server always does.
wrk.method = os.getenv("BENCH_METODO") or "GET"
wrk.headers["Connection"] = "close"

local corpo = os.getenv("BENCH_CORPO")
if corpo ~= nil and corpo ~= "" then
  wrk.body = corpo
  wrk.headers["Content-Type"] = "application/json"
end

local token = os.getenv("BENCH_TOKEN")
if token ~= nil and token ~= "" then
  wrk.headers["Authorization"] = "Bearer " .. token
end
