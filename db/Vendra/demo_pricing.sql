-- Price-list rows that show validity ranges (see docs/pricing.md): the
-- hydraulic hose (9) gets a new euro price from the first day of next month,
-- so its current row now ends there; the screwdriver set (14) had a
-- summer price in 2023 that has long expired. Hallvard Industrial (1001) has agreed prices for
-- the hose and the hydraulic oil (16), the oil's for a limited time. Dates
-- relative to today are taken when the instance is made.
-- sqlite-only: begin
UPDATE PRODUCTPRICE
   SET EXPIRYDATE = strftime('%Y-%m-%dT00:00:00', 'now', 'localtime', 'start of month', '+1 month')
 WHERE PRODUCTID = 9 AND CURRENCYCODE = 'EUR' AND EFFECTIVEDATE = '2024-01-01T00:00:00';
-- sqlite-only: end
-- postgresql-only: begin
UPDATE PRODUCTPRICE
   SET EXPIRYDATE = date_trunc('month', LOCALTIMESTAMP) + CAST('1 month' AS interval)
 WHERE PRODUCTID = 9 AND CURRENCYCODE = 'EUR' AND EFFECTIVEDATE = '2024-01-01T00:00:00';
-- postgresql-only: end

-- The new price starts where the current row now ends.
INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, PRICE,
    DISCOUNTPERC, DISCOUNTAMOUNT)
SELECT 9, EXPIRYDATE, 'EUR', NULL, 10.25, 0, 0 FROM PRODUCTPRICE
 WHERE PRODUCTID = 9 AND CURRENCYCODE = 'EUR' AND EFFECTIVEDATE = '2024-01-01T00:00:00';
INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, PRICE,
    DISCOUNTPERC, DISCOUNTAMOUNT) VALUES
  (14, '2023-06-01T00:00:00', 'EUR', '2023-09-01T00:00:00', 29.9, 0, 0);

INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE,
    EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES
  (1001, 9, '2024-01-01T00:00:00', 'EUR', NULL, 8.9, 0, 0),
  (1001, 16, '2025-01-01T00:00:00', 'EUR', '2028-01-01T00:00:00', 4.5, 0, 0.25);
