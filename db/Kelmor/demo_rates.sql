-- Daily exchange rates of the US dollar and the pound sterling (per euro,
-- the home currency) for the 30 days up to the day the instance is made, so
-- web prices and quotations of "today" convert at a rate of the last days.
-- Each day's rate moves a little around the latest published one (USD 1.17,
-- GBP 0.85); the day the instance is made has exactly those.
-- sqlite-only: begin
INSERT OR REPLACE INTO EXCHANGERATE (CURRENCYCODE, EFFECTIVEDATE, RATE)
WITH RECURSIVE DAYS(N) AS (SELECT 0 UNION ALL SELECT N + 1 FROM DAYS WHERE N < 29)
SELECT 'USD', strftime('%Y-%m-%dT00:00:00', 'now', 'localtime', '-' || N || ' days'),
       CASE WHEN N = 0 THEN 1.17 ELSE round(1.17 + (((N * 7) % 11) - 5) * 0.001, 4) END
  FROM DAYS
UNION ALL
SELECT 'GBP', strftime('%Y-%m-%dT00:00:00', 'now', 'localtime', '-' || N || ' days'),
       CASE WHEN N = 0 THEN 0.85 ELSE round(0.85 + (((N * 5) % 7) - 3) * 0.001, 4) END
  FROM DAYS;
-- sqlite-only: end
-- postgresql-only: begin
INSERT INTO EXCHANGERATE (CURRENCYCODE, EFFECTIVEDATE, RATE)
SELECT 'USD', CURRENT_DATE - N,
       CASE WHEN N = 0 THEN 1.17 ELSE round(1.17 + (((N * 7) % 11) - 5) * 0.001, 4) END
  FROM generate_series(0, 29) AS DAYS(N)
UNION ALL
SELECT 'GBP', CURRENT_DATE - N,
       CASE WHEN N = 0 THEN 0.85 ELSE round(0.85 + (((N * 5) % 7) - 3) * 0.001, 4) END
  FROM generate_series(0, 29) AS DAYS(N)
ON CONFLICT (CURRENCYCODE, EFFECTIVEDATE) DO UPDATE SET RATE = EXCLUDED.RATE;
-- postgresql-only: end
