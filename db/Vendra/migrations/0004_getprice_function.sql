-- On a PostgreSQL server the stored procedure GetPrice is a function of the
-- sales database, getprice(prodid, bpid, currency, homecurrency, orderdate),
-- which the data layer calls for a stored-procedure command; it answers the
-- rows of ../procedures/GetPrice.sql (read that file for the rules) in the
-- same order, with the same column names. SQLite has no functions of its
-- own: there the procedure stays the registered statement, and this version
-- changes nothing. CREATE OR REPLACE, so it may run again on a database that
-- has it already.
-- postgresql-only: begin
CREATE OR REPLACE FUNCTION getprice(prodid integer, bpid integer, currency citext,
                                    homecurrency citext, orderdate timestamp)
RETURNS TABLE ("PRODUCTID" integer, "BUSINESSPARTNERID" integer, "CURRENCYCODE" citext,
               "EFFECTIVEDATE" timestamp(0), "EXPIRYDATE" timestamp(0), "PRICE" numeric,
               "DISCOUNTPERC" numeric, "DISCOUNTAMOUNT" numeric)
LANGUAGE sql STABLE AS $getprice$
  SELECT productid, businesspartnerid, currencycode::citext, effectivedate::timestamp(0),
         expirydate::timestamp(0), price, discountperc, discountamount
  FROM (
    SELECT 1 AS listrank, productid, businesspartnerid, currencycode, effectivedate,
           expirydate, price, discountperc, discountamount
    FROM customerprice
    WHERE productid = prodid
      AND businesspartnerid = bpid
      AND currencycode IN (currency, homecurrency)
      AND effectivedate <= orderdate
      AND (expirydate IS NULL OR expirydate > orderdate)
    UNION ALL
    SELECT 2 AS listrank, productid, NULL AS businesspartnerid, currencycode, effectivedate,
           expirydate, price, discountperc, discountamount
    FROM productprice
    WHERE productid = prodid
      AND currencycode IN (currency, homecurrency)
      AND effectivedate <= orderdate
      AND (expirydate IS NULL OR expirydate > orderdate)
  ) AS candidates
  ORDER BY listrank,
           CASE WHEN currencycode = currency THEN 0 ELSE 1 END,
           effectivedate DESC
$getprice$;
-- postgresql-only: end
