-- GetPrice(@PRODID, @BPID, @CURRENCY, @HOMECURRENCY, @ORDERDATE): the price
-- rows of a product that apply to a business partner on an order date, the
-- applicable one first. Candidates are the rows valid at @ORDERDATE
-- (EFFECTIVEDATE inclusive, EXPIRYDATE exclusive, a NULL expiry open-ended)
-- in the requested or the home currency, from the partner's customer price
-- list and from the product price list. They come in this order:
--   1. the customer list before the product list (a partner's agreed price
--      wins even when it has to be converted from the home currency);
--   2. within a list, the requested currency before the home currency;
--   3. then the latest EFFECTIVEDATE first (should rows of a group overlap).
-- Currency codes match case-insensitively; the caller compares the row's
-- code with the one it asked for and converts when they differ.
-- BUSINESSPARTNERID is NULL for a row of the product list.
SELECT PRODUCTID, BUSINESSPARTNERID, CURRENCYCODE, EFFECTIVEDATE, EXPIRYDATE,
       PRICE, DISCOUNTPERC, DISCOUNTAMOUNT
FROM (
  SELECT 1 AS LISTRANK, PRODUCTID, BUSINESSPARTNERID, CURRENCYCODE, EFFECTIVEDATE,
         EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT
  FROM CUSTOMERPRICE
  WHERE PRODUCTID = @PRODID
    AND BUSINESSPARTNERID = @BPID
    AND CURRENCYCODE IN (@CURRENCY, @HOMECURRENCY)
    AND EFFECTIVEDATE <= @ORDERDATE
    AND (EXPIRYDATE IS NULL OR EXPIRYDATE > @ORDERDATE)
  UNION ALL
  SELECT 2 AS LISTRANK, PRODUCTID, NULL AS BUSINESSPARTNERID, CURRENCYCODE, EFFECTIVEDATE,
         EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT
  FROM PRODUCTPRICE
  WHERE PRODUCTID = @PRODID
    AND CURRENCYCODE IN (@CURRENCY, @HOMECURRENCY)
    AND EFFECTIVEDATE <= @ORDERDATE
    AND (EXPIRYDATE IS NULL OR EXPIRYDATE > @ORDERDATE)
) AS CANDIDATES
ORDER BY LISTRANK,
         CASE WHEN CURRENCYCODE = @CURRENCY THEN 0 ELSE 1 END,
         EFFECTIVEDATE DESC
